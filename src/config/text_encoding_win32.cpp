// The narrow text of Windows is the system code page, converted as the system converts it.
#include <windows.h>

#include <climits>

#include "config/text_encoding.h"

std::u16string TEXT_NarrowToUtf16(std::string_view narrow) {
    if (narrow.empty() || narrow.size() > INT_MAX) return {};
    const int size = static_cast<int>(narrow.size());
    const int n = MultiByteToWideChar(CP_ACP, 0, narrow.data(), size, nullptr, 0);
    if (n <= 0) return {};
    std::u16string out(static_cast<std::size_t>(n), u'\0');
    MultiByteToWideChar(CP_ACP, 0, narrow.data(), size, reinterpret_cast<wchar_t*>(out.data()), n);
    return out;
}

std::string TEXT_Utf16ToNarrow(std::u16string_view utf16) {
    if (utf16.empty() || utf16.size() > INT_MAX) return {};
    const auto* wide = reinterpret_cast<const wchar_t*>(utf16.data());
    const int size = static_cast<int>(utf16.size());
    const int n = WideCharToMultiByte(CP_ACP, 0, wide, size, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide, size, out.data(), n, nullptr, nullptr);
    return out;
}

std::string TEXT_NarrowToUtf8(std::string_view narrow) {
    return TEXT_Utf16ToUtf8(TEXT_NarrowToUtf16(narrow));
}

std::string TEXT_Utf8ToNarrow(std::string_view utf8) {
    return TEXT_Utf16ToNarrow(TEXT_Utf8ToUtf16(utf8));
}
