// UTF-8 and UTF-16 conversions of settings files saved in a Unicode encoding.
#include "config/text_encoding.h"

#include <gtest/gtest.h>

TEST(TextEncoding, Utf8AndUtf16RoundTrip) {
    const std::string utf8 = "a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80z";
    const std::u16string utf16 = u"a\u00E9\u4E2D\U0001F600z";
    EXPECT_EQ(TEXT_Utf8ToUtf16(utf8), utf16);
    EXPECT_EQ(TEXT_Utf16ToUtf8(utf16), utf8);
}

TEST(TextEncoding, MalformedInputBecomesReplacementCharacters) {
    // A stray continuation, a cut sequence, an overlong form, an encoded surrogate.
    EXPECT_EQ(TEXT_Utf8ToUtf16("\x80x"), u"\uFFFDx");
    EXPECT_EQ(TEXT_Utf8ToUtf16("\xE4\xB8x"), u"\uFFFDx");
    EXPECT_EQ(TEXT_Utf8ToUtf16("\xC0\xAFx"), u"\uFFFDx");
    EXPECT_EQ(TEXT_Utf8ToUtf16("\xED\xA0\x80x"), u"\uFFFDx");
    EXPECT_EQ(TEXT_Utf8ToUtf16("\xE4"), u"\uFFFD");
    EXPECT_EQ(TEXT_Utf16ToUtf8(std::u16string(1, char16_t(0xD800)) + u"x"), "\xEF\xBF\xBDx");
    EXPECT_EQ(TEXT_Utf16ToUtf8(std::u16string(1, char16_t(0xDC00))), "\xEF\xBF\xBD");
}
