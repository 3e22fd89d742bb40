#pragma once
// Conversions between the station's single-byte text and UTF-16, for settings files saved in a
// Unicode encoding. The station's own text is in the platform's narrow encoding: the system code
// page on Windows, UTF-8 elsewhere.
#include <string>
#include <string_view>

// UTF-8 <-> UTF-16. A malformed sequence or a lone surrogate becomes U+FFFD.
std::u16string TEXT_Utf8ToUtf16(std::string_view utf8);
std::string TEXT_Utf16ToUtf8(std::u16string_view utf16);

// The platform's narrow text <-> UTF-16. On Windows a character the code page lacks becomes the
// code page's nearest or default character, as the system's own conversions do.
std::u16string TEXT_NarrowToUtf16(std::string_view narrow);
std::string TEXT_Utf16ToNarrow(std::u16string_view utf16);

// The platform's narrow text <-> UTF-8: the same bytes on POSIX systems.
std::string TEXT_NarrowToUtf8(std::string_view narrow);
std::string TEXT_Utf8ToNarrow(std::string_view utf8);
