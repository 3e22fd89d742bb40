// The INI engine: private-profile reads, in-place writes that keep the rest of the file.
#include "config/ini_file.h"

#include <gtest/gtest.h>

#include <cstring>

#include "config_test_util.h"

using config_test::ReadAll;
using config_test::TempDir;
using config_test::WriteAll;

namespace {

std::string Read(const std::string& path, const char* section, const char* key,
                 const char* def = "<default>", std::size_t capacity = 300) {
    std::string buffer(capacity, '\xAA');
    const int n = INI_GetString(path, section, key, def, buffer.data(), capacity);
    EXPECT_EQ(static_cast<std::size_t>(n), std::strlen(buffer.c_str()));
    return buffer.c_str();
}

IniDocument Doc(const std::string& text) {
    IniDocument doc;
    doc.Parse(text);
    return doc;
}

std::string SetText(const std::string& text, const char* section, const char* key,
                    const std::string& value) {
    IniDocument doc = Doc(text);
    EXPECT_TRUE(doc.Set(section, key, value));
    return doc.Text();
}

}  // namespace

TEST(IniRead, MissingFileSectionOrKeyGivesTheDefault) {
    TempDir dir;
    const std::string path = dir / "a.ini";
    EXPECT_EQ(INI_GetInt(path, "PELOR", "DELAY", 2), 2);
    EXPECT_EQ(Read(path, "PELOR", "CODEFILE", "x"), "x");
    EXPECT_EQ(INI_GetInt(dir / "no/such/folder.ini", "PELOR", "DELAY", 7), 7);

    WriteAll(path, "[OTHER]\nDELAY=5\n[PELOR]\nBAUDRATE=9600\n");
    EXPECT_EQ(INI_GetInt(path, "PELOR", "DELAY", 2), 2);
    EXPECT_EQ(INI_GetInt(path, "MISSING", "BAUDRATE", 3), 3);
    EXPECT_EQ(INI_GetInt(path, "PELOR", "BAUDRATE", 3), 9600);
    EXPECT_EQ(INI_GetString(path, "PELOR", "NONE", std::string("dflt")), "dflt");
    EXPECT_EQ(Read(path, "PELOR", "NONE", nullptr), "");
    EXPECT_FALSE(config_test::Exists(dir / "no"));
}

TEST(IniRead, IntegerIsReadAsTheSystemConvertsIt) {
    const IniDocument doc =
        Doc("[S]\nA=abc\nB=12abc\nC=-5\nD=  42  \nE=\nF=+7\nG=0x10\nH=4294967297\nI=-\n"
            "J=0X10\nK=0o17\nL=0b101\nM=-0x10\nN=0xffffffff\nO=0x\nP=00x10\nQ=+-5\n"
            "R=\"12\"\nT=\" \t9\"\nU=\xA0"
            "5\nV=''\n");
    EXPECT_EQ(doc.GetInt("S", "A", 9), 0);
    EXPECT_EQ(doc.GetInt("S", "B", 9), 12);
    EXPECT_EQ(doc.GetInt("S", "C", 9), -5);
    EXPECT_EQ(doc.GetInt("S", "D", 9), 42);
    EXPECT_EQ(doc.GetInt("S", "E", 9), 9);  // an empty value counts as missing
    EXPECT_EQ(doc.GetInt("S", "F", 9), 7);
    EXPECT_EQ(doc.GetInt("S", "G", 9), 16);  // the system's base prefixes: 0x, 0o, 0b
    EXPECT_EQ(doc.GetInt("S", "H", 9), 1);   // wraps at 32 bits
    EXPECT_EQ(doc.GetInt("S", "I", 9), 0);
    EXPECT_EQ(doc.GetInt("S", "J", 9), 0);  // the prefix is lower case only
    EXPECT_EQ(doc.GetInt("S", "K", 9), 15);
    EXPECT_EQ(doc.GetInt("S", "L", 9), 5);
    EXPECT_EQ(doc.GetInt("S", "M", 9), -16);
    EXPECT_EQ(doc.GetInt("S", "N", 9), -1);
    EXPECT_EQ(doc.GetInt("S", "O", 9), 0);
    EXPECT_EQ(doc.GetInt("S", "P", 9), 0);
    EXPECT_EQ(doc.GetInt("S", "Q", 9), 0);
    EXPECT_EQ(doc.GetInt("S", "R", 9), 12);  // quotes go first
    EXPECT_EQ(doc.GetInt("S", "T", 9), 9);   // blanks inside them are skipped
    EXPECT_EQ(doc.GetInt("S", "U", 9), 0);   // a code-page blank is not one
    EXPECT_EQ(doc.GetInt("S", "V", 9), 9);   // empty once unquoted
    EXPECT_EQ(doc.GetInt("S", "MISSING", 9), 9);
    EXPECT_EQ(INI_ParseInt(std::string("\x01\x02"
                                       "5")),
              5);
    EXPECT_EQ(INI_ParseInt(std::string("7\0"
                                       "8",
                                       3)),
              7);
}

TEST(IniRead, TextIsCutToCapacityMinusOne) {
    TempDir dir;
    const std::string path = dir / "a.ini";
    WriteAll(path, "[S]\nK=0123456789\n");
    EXPECT_EQ(Read(path, "S", "K", "", 5), "0123");
    EXPECT_EQ(Read(path, "S", "K", "", 11), "0123456789");
    EXPECT_EQ(Read(path, "S", "K", "", 1), "");
    EXPECT_EQ(Read(path, "S", "MISSING", "abcdef", 4), "abc");

    char untouched = 'z';
    EXPECT_EQ(INI_GetString(path, "S", "K", "", &untouched, 0), 0);
    EXPECT_EQ(untouched, 'z');
}

TEST(IniRead, BlanksAroundNamesAndValuesAreTrimmedAndNamesIgnoreCase) {
    const IniDocument doc = Doc("  [ Pelor ]  \n\t AutoDetect \t=\t 0 \t\n code file = a b \n");
    std::string value;
    EXPECT_EQ(doc.GetInt("PELOR", "AUTODETECT", 1), 0);
    EXPECT_EQ(doc.GetInt("pelor", "autodetect", 1), 0);
    ASSERT_TRUE(doc.Get("PELOR", "CODE FILE", &value));
    EXPECT_EQ(value, "a b");
}

TEST(IniRead, OnlyTheFirstCopyOfASectionAndKeyLinesWithAnEqualsSignCount) {
    const IniDocument doc =
        Doc("K=top\n[S]\n;K=comment\n#K=hash\nNOEQUALS\n  CODEFILE  \nD=1\nD=2\n[T]\nK=other\n"
            "[S]\nK=later\nD=3\n");
    std::string value;
    EXPECT_FALSE(doc.Get("S", "K", &value));  // only in the later copy of [S]
    ASSERT_TRUE(doc.Get("S", "D", &value));
    EXPECT_EQ(value, "1");
    EXPECT_FALSE(doc.Get("S", "NOEQUALS", &value));
    EXPECT_EQ(Doc("[S]\nCODEFILE\n").GetInt("S", "CODEFILE", 4), 4);
    char out[8];
    EXPECT_EQ(Doc("[S]\nCODEFILE\n").GetString("S", "CODEFILE", "dflt", out, sizeof out), 4);
    EXPECT_STREQ(out, "dflt");
    EXPECT_FALSE(doc.Get("S", ";K", &value));
    // An unterminated header still opens its section; "[]" is a section of its own.
    const IniDocument odd = Doc("A=top\n[PELOR\nB=1\n[]\nC=2\n[PELOR]\nA=3\n");
    EXPECT_EQ(odd.GetInt("PELOR", "B", 0), 1);
    EXPECT_EQ(odd.GetInt("PELOR", "A", 0), 0);
    EXPECT_EQ(odd.GetInt("PELOR", "C", 0), 0);
}

TEST(IniRead, OneMatchingPairOfQuotesIsNotPartOfTheValue) {
    const IniDocument doc =
        Doc("[S]\nA=\"C:\\images\\WZRTAll\"\nB='1'\nC=\"ab\nD=\"\nE=  ' x '  \nF=\"a\"b\"\n"
            "G=\"a'\nH=\"\"\nI=\"0123456789\"\n");
    std::string v;
    ASSERT_TRUE(doc.Get("S", "A", &v));
    EXPECT_EQ(v, "C:\\images\\WZRTAll");
    EXPECT_EQ(doc.GetInt("S", "B", 0), 1);
    const std::pair<const char*, const char*> kept[] = {{"C", "\"ab"}, {"D", "\""},   {"E", " x "},
                                                        {"F", "a\"b"}, {"G", "\"a'"}, {"H", ""}};
    for (const auto& [key, expected] : kept) {
        ASSERT_TRUE(doc.Get("S", key, &v)) << key;
        EXPECT_EQ(v, expected) << key;
    }
    // The cut applies to the text without its quotes.
    char out[16];
    EXPECT_EQ(doc.GetString("S", "I", "", out, 11), 10);
    EXPECT_STREQ(out, "0123456789");
    EXPECT_EQ(doc.GetString("S", "I", "", out, 5), 4);
    EXPECT_STREQ(out, "0123");
}

TEST(IniRead, LinesEndInLfCrLfCrAloneOrCrCrLfAndAFinalEndMarkIsNotText) {
    const char* const files[] = {"[S]\nA=1\nB=xy\n",     "[S]\r\nA=1\r\nB=xy\r\n",
                                 "[S]\rA=1\rB=xy\r",     "[S]\r\r\nA=1\r\r\nB=xy\r\r\n",
                                 "[S]\nA=1\r\nB=xy\x1A", "[S]\r\nA=1\nB=xy\r"};
    for (const char* text : files) {
        const IniDocument doc = Doc(text);
        std::string v;
        EXPECT_EQ(doc.GetInt("S", "A", 0), 1) << text;
        ASSERT_TRUE(doc.Get("S", "B", &v)) << text;
        EXPECT_EQ(v, "xy") << text;
        EXPECT_EQ(doc.Text(), text);
    }
    std::string v;
    ASSERT_TRUE(Doc("[S]\nB=x\x1Ay\n").Get("S", "B", &v));
    EXPECT_EQ(v, "x\x1Ay");  // only at the very end is it the end mark
}

TEST(IniRead, DefaultLosesItsTrailingSpaces) {
    char out[16];
    EXPECT_EQ(Doc("").GetString("S", "K", "  ab  ", out, sizeof out), 4);
    EXPECT_STREQ(out, "  ab");
    EXPECT_EQ(Doc("").GetString("S", "K", nullptr, out, sizeof out), 0);
}

TEST(IniRead, CrlfLinesAndAByteOrderMarkRead) {
    const IniDocument doc = Doc("\xEF\xBB\xBF[PELOR]\r\nDELAY=5\r\nCODEFILE=C:\\img\r\n");
    std::string value;
    EXPECT_EQ(doc.GetInt("PELOR", "DELAY", 2), 5);
    ASSERT_TRUE(doc.Get("PELOR", "CODEFILE", &value));
    EXPECT_EQ(value, "C:\\img");
}

TEST(IniWrite, CreatesFileSectionAndKey) {
    TempDir dir;
    const std::string path = dir / "new.ini";
    ASSERT_EQ(INI_WriteString(path, "PELOR", "DELAY", "2"), 1);
    ASSERT_EQ(INI_WriteString(path, "PELOR", "BAUDRATE", "1382400"), 1);
    ASSERT_EQ(INI_WriteString(path, "PORTS", "COM3", "x"), 1);
    EXPECT_EQ(ReadAll(path), "[PELOR]\nDELAY=2\nBAUDRATE=1382400\n[PORTS]\nCOM3=x\n");
    EXPECT_EQ(INI_GetInt(path, "PELOR", "BAUDRATE", 0), 1382400);
}

TEST(IniWrite, ReplacesAValueInPlaceKeepingEveryOtherLine) {
    const std::string before =
        "; station settings\n"
        "\n"
        "[PORTS]\n"
        "DELAY=99\n"
        "\n"
        "[pelor]\n"
        "  delay = 5  \n"
        "; keep me\n"
        "BAUDRATE=115200\n"
        "\n"
        "[LAST]\n"
        "X=1";
    const std::string after =
        "; station settings\n"
        "\n"
        "[PORTS]\n"
        "DELAY=99\n"
        "\n"
        "[pelor]\n"
        "delay=7\n"
        "; keep me\n"
        "BAUDRATE=115200\n"
        "\n"
        "[LAST]\n"
        "X=1";
    EXPECT_EQ(SetText(before, "PELOR", "DELAY", "7"), after);
}

TEST(IniWrite, NewKeyGoesAfterTheLastKeyOfItsSection) {
    EXPECT_EQ(SetText("[A]\nX=1\n; note\nY=2\n\n\n[B]\nZ=3\n", "a", "NEW", "v"),
              "[A]\nX=1\n; note\nY=2\nNEW=v\n\n\n[B]\nZ=3\n");
    EXPECT_EQ(SetText("[A]\n\n[B]\n", "A", "K", "v"), "[A]\nK=v\n\n[B]\n");
    // The first of two sections of the same name takes the key.
    EXPECT_EQ(SetText("[A]\nX=1\n[B]\n[A]\nY=2\n", "A", "Z", "3"),
              "[A]\nX=1\nZ=3\n[B]\n[A]\nY=2\n");
    // A key only in a later copy is not that section's: the first copy takes it.
    EXPECT_EQ(SetText("[A]\nX=1\n[B]\n[A]\nY=2\n", "A", "Y", "3"),
              "[A]\nX=1\nY=3\n[B]\n[A]\nY=2\n");
    // A line without '=' is no key, but a new key goes after it, and one of the key's own name
    // becomes the key.
    EXPECT_EQ(SetText("[A]\nNOTE\n\n[B]\n", "A", "CODEFILE", "x"),
              "[A]\nNOTE\nCODEFILE=x\n\n[B]\n");
    EXPECT_EQ(SetText("[A]\n  codefile \nX=1\n[B]\nCODEFILE\n", "A", "CODEFILE", "x"),
              "[A]\ncodefile=x\nX=1\n[B]\nCODEFILE\n");
}

TEST(IniWrite, NewSectionGoesAtTheEndAndAnUnterminatedLastLineIsEnded) {
    EXPECT_EQ(SetText("[A]\nX=1", "B", "K", "v"), "[A]\nX=1\n[B]\nK=v\n");
    EXPECT_EQ(SetText("[A]\nX=1", "A", "K", "v"), "[A]\nX=1\nK=v\n");
    EXPECT_EQ(SetText("", "B", "K", ""), "[B]\nK=\n");
}

TEST(IniWrite, FileKeepsItsLineEndingStyle) {
    EXPECT_EQ(SetText("[A]\r\nX=1\r\n\r\n", "A", "Y", "2"), "[A]\r\nX=1\r\nY=2\r\n\r\n");
    EXPECT_EQ(SetText("[A]\r\nX=1\r\n", "B", "Y", "2"), "[A]\r\nX=1\r\n[B]\r\nY=2\r\n");
    EXPECT_EQ(SetText("[A]\r\nX=1\r\n", "A", "X", "3"), "[A]\r\nX=3\r\n");
    EXPECT_EQ(SetText("[A]\nX=1\n", "A", "Y", "2"), "[A]\nX=1\nY=2\n");
}

TEST(IniWrite, BytesAreKeptAsTheyAre) {
    TempDir dir;
    const std::string path = dir / "bytes.ini";
    const std::string before = "[S]\n\xE9t\xE9=\xFF\xFE\n";
    WriteAll(path, before);
    const std::string value = "C:\\Programme\\Fl\xE4sh\\\x80\x81";
    ASSERT_EQ(INI_WriteString(path, "S", "F", value), 1);
    EXPECT_EQ(ReadAll(path), before + "F=" + value + "\n");
    EXPECT_EQ(INI_GetString(path, "S", "F", std::string()), value);
    EXPECT_EQ(INI_GetString(path, "S", "\xE9t\xE9", std::string()), "\xFF\xFE");
}

TEST(IniWrite, ALineBreakInAValueCannotForgeKeysAndBadNamesAreRefused) {
    IniDocument doc = Doc("[S]\nA=1\n");
    EXPECT_TRUE(doc.Set("S", "A", "x\nB=2\r\n[T]"));
    EXPECT_EQ(doc.Text(), "[S]\nA=x\n");
    EXPECT_FALSE(doc.Set("S", "", "v"));
    EXPECT_FALSE(doc.Set("", "K", "v"));
    EXPECT_FALSE(doc.Set("S", "K=J", "v"));
    EXPECT_FALSE(doc.Set("S", ";K", "v"));
    EXPECT_FALSE(doc.Set("S", "[K", "v"));
    EXPECT_FALSE(doc.Set("S]", "K", "v"));
    EXPECT_FALSE(doc.Set("S", "K\nJ", "v"));
    EXPECT_FALSE(doc.Set(nullptr, "K", "v"));
    EXPECT_EQ(doc.Text(), "[S]\nA=x\n");

    TempDir dir;
    EXPECT_EQ(INI_WriteString(dir / "a.ini", "S", "K=J", "v"), 0);
    EXPECT_FALSE(config_test::Exists(dir / "a.ini"));
}

TEST(IniWrite, AByteOrderMarkStaysInFront) {
    EXPECT_EQ(SetText("\xEF\xBB\xBF[S]\nA=1\n", "S", "B", "2"), "\xEF\xBB\xBF[S]\nA=1\nB=2\n");
    const std::string bom = "\xEF\xBB\xBF";
    EXPECT_EQ(SetText(bom + "A=1\n[S]\n", "S", "A", "2"), bom + "A=1\n[S]\nA=2\n");
    EXPECT_EQ(SetText(bom + "[S]\nA=1\n", "S", "A", "2"), bom + "[S]\nA=2\n");
    EXPECT_EQ(SetText(bom + "A=1\n", "S", "A", "2"), bom + "A=1\n[S]\nA=2\n");
}

TEST(IniWrite, AFileThatCannotBeReadIsNotReplaced) {
    TempDir dir;
    const std::string path = dir / "folder.ini";
    ASSERT_EQ(::mkdir(path.c_str(), 0755), 0);
    WriteAll(path + "/inside", "kept");
    IniDocument doc;
    EXPECT_EQ(doc.Load(path), 0);
    EXPECT_EQ(INI_WriteString(path, "S", "K", "v"), 0);
    EXPECT_EQ(ReadAll(path + "/inside"), "kept");
    EXPECT_EQ(INI_GetInt(path, "S", "K", 4), 4);
}

namespace {

// UTF-16 bytes of ASCII text in either byte order, after the byte order mark.
std::string Utf16(const std::string& ascii, bool littleEndian = true) {
    std::string bytes = littleEndian ? "\xFF\xFE" : "\xFE\xFF";
    for (const char c : ascii) {
        bytes += littleEndian ? c : '\0';
        bytes += littleEndian ? '\0' : c;
    }
    return bytes;
}

}  // namespace

TEST(IniWrite, AddedLinesTakeTheFilesOwnLineBreak) {
    EXPECT_EQ(SetText("[A]\r\r\nX=1\r\r\n\r\r\n[B]\r\r\n", "A", "Y", "2"),
              "[A]\r\r\nX=1\r\r\nY=2\r\r\n\r\r\n[B]\r\r\n");
    EXPECT_EQ(SetText("[A]\rX=1\r", "A", "X", "3"), "[A]\rX=3\r");
    EXPECT_EQ(SetText("[A]\rX=1", "B", "Y", "2"), "[A]\rX=1\r[B]\rY=2\r");
    // The end mark stays at the end of the file.
    EXPECT_EQ(SetText("[A]\nX=1\x1A", "A", "Y", "2"), "[A]\nX=1\nY=2\n\x1A");
}

TEST(IniUnicode, Utf16FilesReadAndAreWrittenBackInUtf16) {
    for (const bool le : {true, false}) {
        const std::string before = Utf16("[PELOR]\r\nDELAY=5\r\nCODEFILE=\"C:\\img\"\r\n", le);
        IniDocument doc = Doc(before);
        EXPECT_EQ(doc.FileEncoding(),
                  le ? IniDocument::Encoding::kUtf16Le : IniDocument::Encoding::kUtf16Be);
        EXPECT_EQ(doc.GetInt("PELOR", "DELAY", 2), 5);
        std::string v;
        ASSERT_TRUE(doc.Get("pelor", "codefile", &v));
        EXPECT_EQ(v, "C:\\img");
        ASSERT_TRUE(doc.Set("PELOR", "DELAY", "7"));
        ASSERT_TRUE(doc.Set("PELOR", "BAUDRATE", "9600"));
        ASSERT_TRUE(doc.Set("OTHER", "K", "v"));
        EXPECT_EQ(doc.Text(),
                  Utf16("[PELOR]\r\nDELAY=7\r\nCODEFILE=\"C:\\img\"\r\nBAUDRATE=9600\r\n"
                        "[OTHER]\r\nK=v\r\n",
                        le));
    }
}

TEST(IniUnicode, TextOutsideAsciiGoesThroughTheNarrowEncoding) {
    // U+00E9 and U+4E2D in a UTF-16 file; the narrow text of this platform is UTF-8.
    const std::string before = std::string("\xFF\xFE[\0S\0]\0\n\0A\0=\0\xE9\0\x2D\x4E\n\0", 20);
    IniDocument doc = Doc(before);
    std::string v;
    ASSERT_TRUE(doc.Get("S", "A", &v));
    EXPECT_EQ(v, "\xC3\xA9\xE4\xB8\xAD");
    ASSERT_TRUE(doc.Set("S", "\xC3\xA9", "\xE4\xB8\xAD"));
    EXPECT_EQ(doc.Text(), before + std::string("\xE9\0=\0\x2D\x4E\n\0", 8));
    // A stray last byte stays where it was.
    IniDocument odd = Doc(Utf16("[S]\nA=1\n") + "x");
    ASSERT_TRUE(odd.Set("S", "A", "2"));
    EXPECT_EQ(odd.Text(), Utf16("[S]\nA=2\n") + "x");
}

TEST(IniUnicode, AnEmptyUtf16FileGetsItsSectionInUtf16) {
    TempDir dir;
    const std::string path = dir / "u.ini";
    WriteAll(path, "\xFF\xFE");
    ASSERT_EQ(INI_WriteString(path, "PELOR", "DELAY", "2"), 1);
    EXPECT_EQ(ReadAll(path), Utf16("[PELOR]\nDELAY=2\n"));
    EXPECT_EQ(INI_GetInt(path, "PELOR", "DELAY", 0), 2);
}
