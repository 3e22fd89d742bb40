// The narrow text of POSIX systems is UTF-8.
#include "config/text_encoding.h"

std::u16string TEXT_NarrowToUtf16(std::string_view narrow) {
    return TEXT_Utf8ToUtf16(narrow);
}

std::string TEXT_Utf16ToNarrow(std::u16string_view utf16) {
    return TEXT_Utf16ToUtf8(utf16);
}

std::string TEXT_NarrowToUtf8(std::string_view narrow) {
    return std::string(narrow);
}

std::string TEXT_Utf8ToNarrow(std::string_view utf8) {
    return std::string(utf8);
}
