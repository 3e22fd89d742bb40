// The INI engine side by side with the Windows private-profile functions themselves
// (GetPrivateProfileStringA, GetPrivateProfileIntA, WritePrivateProfileStringA), over the tricky
// files of tests/config/ini_corpus and a few hundred generated ones (fixed seed). Every
// difference fails, except the few places where wine's functions, which CI runs, are known to
// read otherwise than Windows does (kWineExceptions): such a difference is excused only when the
// engine, reading the file as wine's functions take it, gives wine's answer.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "config/ini_file.h"
#include "config/text_encoding.h"
#include "support/temp_dir.h"

namespace {

// Where wine differs from Windows, and why Windows is taken as the truth.
//  1. A quoted value read into a buffer of exactly its unquoted length + 1: wine cuts the text
//     with its closing quote and then drops one character too many. Windows cuts the text
//     without its quotes ("a cut at the buffer's capacity applies to the unquoted text").
//  2. A header without its closing bracket ("[PELOR"): wine skips the line, so the keys under
//     it stay in the section before. Windows opens the section at such a line.
//  3. Keys before the first header: wine reads them as a section without a name (asked for as
//     ""), found before any "[]". Windows keeps them out of every section, and "[]" is the
//     section "".
//  4. A line of a key's name without '=' before the key in the same section: wine takes the
//     line for the key with no value and gives the default. Windows looks for the key's name
//     followed by '=', so such a line is no key at all and the key after it is read.
//  5. An integer text longer than 29 characters: wine converts only its first 29 characters.
//     Windows converts the string that follows the key, whatever its length.
constexpr const char* kQuoteCut = "quoted value cut one short at capacity = length + 1";
constexpr const char* kUnterminatedHeader = "header without ']' skipped";
constexpr const char* kLeadingKeys = "keys before the first header read as a section \"\"";
constexpr const char* kBareLineFirst = "line without '=' hides the key after it";
constexpr const char* kLongInteger = "integer text past 29 characters cut";
constexpr std::size_t kWineIntegerText = 29;

struct Pools {
    std::vector<std::string> sections;
    std::vector<std::string> keys;
};

const Pools& CorpusPools() {
    static const Pools pools{
        {"PELOR", "pelor", "OTHER", "S", "", "MISSING"},
        {"CODECHECK", "CODEFILE",    "FONTCHECK", "FONTFILE", "FONTADDRESS", "DATACHECK",
         "DATAFILE",  "DATAADDRESS", "ETC1CHECK", "ETC1FILE", "ETC1ADDRESS", "ETC2CHECK",
         "ETC2FILE",  "ETC2ADDRESS", "DELAY",     "BAUDRATE", "AUTODETECT",  "A",
         "B",         "C",           "D",         "E",        "F",           "G",
         "H",         "I",           "J",         "K",        "L",           "M",
         "N",         "O",           "P",         "Q",        "R",           "X",
         "Y",         "Z",           "\xC9t\xE9", "MISSING"}};
    return pools;
}

const Pools& GeneratedPools() {
    static const Pools pools{{"PELOR", "other", "S", "", "MISSING"},
                             {"CODEFILE", "codecheck", "Delay", "ETC2CHECK", "etc2file",
                              "FONTADDRESS", "A", "B", "KEY", "MISSING"}};
    return pools;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string Show(const std::string& s) {
    std::string out;
    for (const unsigned char c : s) {
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

// The profile functions search the Windows folder for a name without a full path.
std::string FullPath(const std::string& path) {
    char buffer[MAX_PATH * 2];
    const DWORD n = GetFullPathNameA(path.c_str(), sizeof buffer, buffer, nullptr);
    return n > 0 && n < sizeof buffer ? std::string(buffer, n) : path;
}

// A file as code units: bytes, or UTF-16 units after a UTF-16 byte order mark.
struct Decoded {
    std::string prefix;  // the byte order mark
    bool wide = false;
    bool littleEndian = false;
    std::u16string units;
};

Decoded Decode(const std::string& bytes) {
    Decoded d;
    if (bytes.compare(0, 2, "\xFF\xFE") == 0 || bytes.compare(0, 2, "\xFE\xFF") == 0) {
        d.prefix = bytes.substr(0, 2);
        d.wide = true;
        d.littleEndian = bytes[0] == '\xFF';
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
            const auto a = static_cast<unsigned char>(bytes[i]);
            const auto b = static_cast<unsigned char>(bytes[i + 1]);
            d.units += static_cast<char16_t>(d.littleEndian ? (a | b << 8) : (b | a << 8));
        }
        return d;
    }
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) d.prefix = bytes.substr(0, 3);
    for (std::size_t i = d.prefix.size(); i < bytes.size(); ++i) {
        d.units += static_cast<unsigned char>(bytes[i]);
    }
    return d;
}

std::string Encode(const Decoded& d, const std::u16string& units) {
    std::string out = d.prefix;
    for (const char16_t u : units) {
        if (!d.wide) {
            out += static_cast<char>(u);
            continue;
        }
        const char lo = static_cast<char>(u & 0xFF);
        const char hi = static_cast<char>(u >> 8);
        out += d.littleEndian ? lo : hi;
        out += d.littleEndian ? hi : lo;
    }
    return out;
}

// The file as wine's functions take it where they differ from Windows: lines that open a header
// without closing it are gone (*unterminated), and keys before the first header belong to a
// section without a name (*leading; as if the file began with "[]").
std::string AsWineReadsIt(const std::string& bytes, bool* unterminated, bool* leading) {
    const Decoded d = Decode(bytes);
    std::u16string kept;
    *unterminated = false;
    *leading = false;
    bool inSection = false;
    std::size_t pos = 0;
    while (pos < d.units.size()) {
        std::size_t end = d.units.find_first_of(u"\r\n", pos);
        if (end == std::u16string::npos) end = d.units.size();
        std::size_t next = end;
        while (next < d.units.size() && (d.units[next] == '\r' || d.units[next] == '\n')) ++next;
        const std::u16string line = d.units.substr(pos, end - pos);
        const std::size_t first = line.find_first_not_of(u" \t");
        const bool header = first != std::u16string::npos && line[first] == '[';
        if (header && line.find(']') == std::u16string::npos) {
            *unterminated = true;
        } else {
            if (header) inSection = true;
            if (!inSection && line.find('=') != std::u16string::npos) *leading = true;
            kept += d.units.substr(pos, next - pos);
        }
        pos = next;
    }
    if (*leading) kept = u"[]\n" + kept;
    return Encode(d, kept);
}

char Upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// Whether a line of the file is the name alone (blanks aside, any case). The ASCII names of
// UTF-16 files are found with the zero bytes dropped.
bool HasBareLine(const std::string& bytes, const std::string& name) {
    std::string text;
    for (const char c : bytes) {
        if (c != '\0') text += Upper(c);
    }
    std::string wanted;
    for (const char c : name) wanted += Upper(c);
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        if (pos == 0) {
            const std::size_t body = line.find_first_not_of("\xEF\xBB\xBF\xFE\xFF");
            line.erase(0, body == std::string::npos ? line.size() : body);
        }
        const std::size_t first = line.find_first_not_of(" \t");
        const std::size_t last = line.find_last_not_of(" \t");
        if (first != std::string::npos && line.substr(first, last - first + 1) == wanted) {
            return true;
        }
        pos = end + 1;
    }
    return false;
}

class Oracle {
public:
    explicit Oracle(std::string folder) : folder_(std::move(folder)) {}

    // Every read of the pools, engine against the Windows functions, on the file's bytes.
    void CompareReads(const std::string& label, const std::string& bytes, const Pools& pools) {
        const std::string path = FullPath(folder_ + "/" + std::to_string(files_) + ".ini");
        WriteAll(path, bytes);
        ++files_;
        IniDocument doc;
        ASSERT_EQ(doc.Load(path), 1) << label;
        bool unterminated = false;
        bool leading = false;
        IniDocument asWine;
        asWine.Parse(AsWineReadsIt(bytes, &unterminated, &leading));
        // Which difference of wine a query on the file may meet.
        const auto wineReason = [&](const std::string& section) {
            return leading && section.empty() ? kLeadingKeys : kUnterminatedHeader;
        };

        for (const std::string& section : pools.sections) {
            for (const std::string& key : pools.keys) {
                const char* s = section.c_str();
                const char* k = key.c_str();
                std::string full;
                const bool found = doc.Get(s, k, &full);
                const std::string where = label + " [" + section + "] " + key;

                ++queries_;
                const int engineInt = doc.GetInt(s, k, 77);
                const int wineInt = static_cast<int>(GetPrivateProfileIntA(s, k, 77, path.c_str()));
                if (engineInt != wineInt) {
                    const auto quirk = [&](const IniDocument& d) {
                        return IntQuirk(d, bytes, s, k, wineInt);
                    };
                    if (!Judge(quirk, doc, unterminated || leading, asWine, wineReason(section))) {
                        ADD_FAILURE()
                            << where << ": integer " << engineInt << " but Windows " << wineInt;
                    }
                }

                std::vector<std::size_t> capacities = {1, 2, 5, 32, 261, 1024};
                std::string asWineFull;
                const bool asWineFound = asWine.Get(s, k, &asWineFull);
                for (std::size_t extra : {0, 1, 2}) {
                    if (found && full.size() + extra > 0) {
                        capacities.push_back(full.size() + extra);
                    }
                    if (asWineFound && asWineFull != full && asWineFull.size() + extra > 0) {
                        capacities.push_back(asWineFull.size() + extra);
                    }
                }
                for (std::size_t i = 0; i < capacities.size(); ++i) {
                    const std::size_t cap = capacities[i];
                    const char* def = i % 2 == 0 ? "dflt  " : nullptr;
                    ++queries_;
                    std::string e(cap + 1, '\xAA');
                    std::string w(cap + 1, '\xAA');
                    const int en = doc.GetString(s, k, def, e.data(), cap);
                    const DWORD wn = GetPrivateProfileStringA(
                        s, k, def, w.data(), static_cast<DWORD>(cap), path.c_str());
                    e.resize(static_cast<std::size_t>(en));
                    w.resize(wn);
                    if (e == w) continue;
                    const auto quirk = [&](const IniDocument& d) {
                        return StringQuirk(d, bytes, s, k, def, cap, w);
                    };
                    if (!Judge(quirk, doc, unterminated || leading, asWine, wineReason(section))) {
                        ADD_FAILURE() << where << " capacity " << cap << ": \"" << Show(e)
                                      << "\" but Windows \"" << Show(w) << "\"";
                    }
                }
            }
        }
    }

    // The same writes by the engine and by WritePrivateProfileStringA: what each wrote reads the
    // same, by the engine and by the Windows functions.
    void CompareWrites(const std::string& label, const std::string& bytes, const Pools& pools) {
        static const char* const kWrites[][3] = {{"PELOR", "DELAY", "17"},
                                                 {"PELOR", "CODEFILE", "C:\\new\\WZRTAll"},
                                                 {"PELOR", "KEY", "v a l"},
                                                 {"NEWSECTION", "K", "1"}};
        IniDocument doc;
        doc.Parse(bytes);
        for (const auto& w : kWrites) ASSERT_TRUE(doc.Set(w[0], w[1], w[2])) << label;
        const std::string written = doc.Text();
        for (const auto& w : kWrites) {
            std::string v;
            EXPECT_TRUE(doc.Get(w[0], w[1], &v) && v == w[2]) << label << " " << w[1];
        }
        CompareReads(label + " written by the engine", written, pools);

        const std::string path = FullPath(folder_ + "/" + std::to_string(files_++) + ".ini");
        WriteAll(path, bytes);
        for (const auto& w : kWrites) {
            ASSERT_TRUE(WritePrivateProfileStringA(w[0], w[1], w[2], path.c_str())) << label;
        }
        WritePrivateProfileStringA(nullptr, nullptr, nullptr, path.c_str());  // flush
        IniDocument theirs;
        ASSERT_EQ(theirs.Load(path), 1);
        bool unterminated = false;
        bool leading = false;
        AsWineReadsIt(bytes, &unterminated, &leading);
        for (const std::string& section : pools.sections) {
            for (const std::string& key : pools.keys) {
                std::string mine;
                std::string other;
                const bool a = doc.Get(section.c_str(), key.c_str(), &mine);
                const bool b = theirs.Get(section.c_str(), key.c_str(), &other);
                ++queries_;
                if (a == b && mine == other) continue;
                if (unterminated || (leading && section.empty())) {
                    Excuse(unterminated ? kUnterminatedHeader : kLeadingKeys);
                } else {
                    ADD_FAILURE() << label << " after the writes [" << section << "] " << key
                                  << ": engine wrote \"" << Show(mine) << "\", Windows \""
                                  << Show(other) << "\"";
                }
            }
        }
    }

    void Report() const {
        std::printf("ini oracle: %d files, %d reads compared\n", files_, queries_);
        for (const auto& [reason, count] : excused_) {
            std::printf("  excused (wine differs from Windows): %s: %d\n", reason.c_str(), count);
        }
    }
    int Excused(const char* reason) const {
        const auto it = excused_.find(reason);
        return it == excused_.end() ? 0 : it->second;
    }

private:
    // The difference of wine's that turns the engine's reading of d into wine's answer: "" when
    // none is needed, null when none explains it.
    static const char* IntQuirk(const IniDocument& d, const std::string& bytes, const char* s,
                                const char* k, int wineInt) {
        if (d.GetInt(s, k, 77) == wineInt) return "";
        std::string full;
        const bool found = d.Get(s, k, &full);
        if (found && full.size() > kWineIntegerText &&
            INI_ParseInt(full.substr(0, kWineIntegerText)) == wineInt) {
            return kLongInteger;
        }
        if (found && wineInt == 77 && HasBareLine(bytes, k)) return kBareLineFirst;
        return nullptr;
    }
    static const char* StringQuirk(const IniDocument& d, const std::string& bytes, const char* s,
                                   const char* k, const char* def, std::size_t cap,
                                   const std::string& w) {
        if (ReadAs(d, s, k, def, cap) == w) return "";
        std::string full;
        const bool found = d.Get(s, k, &full);
        if (found && cap == full.size() + 1 && !full.empty() &&
            w == full.substr(0, full.size() - 1)) {
            return kQuoteCut;
        }
        if (found && w == ReadAs(IniDocument(), s, k, def, cap) && HasBareLine(bytes, k)) {
            return kBareLineFirst;
        }
        return nullptr;
    }
    // Excuses a difference explained by wine's quirks on the file as the engine reads it, or on
    // the file as wine takes it (asWine, when that differs). False when nothing explains it.
    template <typename Quirk>
    bool Judge(const Quirk& quirk, const IniDocument& doc, bool wineTakesItOtherwise,
               const IniDocument& asWine, const char* howWineTakesIt) {
        if (const char* reason = quirk(doc); reason != nullptr && reason[0] != '\0') {
            Excuse(reason);
            return true;
        }
        if (!wineTakesItOtherwise) return false;
        const char* reason = quirk(asWine);
        if (reason == nullptr) return false;
        Excuse(howWineTakesIt);
        if (reason[0] != '\0') Excuse(reason);
        return true;
    }

    static std::string ReadAs(const IniDocument& doc, const char* s, const char* k, const char* def,
                              std::size_t cap) {
        std::string out(cap + 1, '\0');
        out.resize(static_cast<std::size_t>(doc.GetString(s, k, def, out.data(), cap)));
        return out;
    }
    void Excuse(const char* reason) { ++excused_[reason]; }

    std::string folder_;
    int files_ = 0;
    int queries_ = 0;
    std::map<std::string, int> excused_;
};

// Generated files: sections, keys, bare names, comments and blank lines in every mixture, with
// quoted, numeric, long and code-page values, four line breaks, four encodings and end marks.
class Generator {
public:
    explicit Generator(std::uint32_t seed) : rng_(seed) {}

    std::string File() {
        const std::uint32_t e = Pick(100);
        const int encoding = e < 74 ? 0 : e < 86 ? 1 : e < 92 ? 2 : 3;  // bytes, LE, BE, UTF-8
        const bool mixed = Pick(10) < 3;
        const char16_t* const breaks[] = {u"\n", u"\r\n", u"\r", u"\r\r\n"};
        const std::u16string fileBreak = breaks[Pick(4)];
        std::u16string text;
        const std::uint32_t lines = 1 + Pick(24);
        for (std::uint32_t i = 0; i < lines; ++i) {
            text += Line(encoding != 0);
            if (i + 1 < lines || Pick(5) != 0) text += mixed ? breaks[Pick(4)] : fileBreak;
        }
        if (Pick(10) == 0) text += char16_t{0x1A};
        return Encode(text, encoding);
    }

private:
    std::uint32_t Pick(std::uint32_t n) { return rng_() % n; }

    std::u16string Blanks() {
        static const char16_t* const kBlanks[] = {u"", u"", u"", u" ", u"  ", u"\t", u" \t "};
        return kBlanks[Pick(7)];
    }

    std::u16string Name(const char* const* names, std::uint32_t count) {
        std::u16string name;
        for (const char* p = names[Pick(count)]; *p != '\0'; ++p) {
            char c = *p;
            if (Pick(4) == 0 && c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
            if (Pick(4) == 0 && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
            name += static_cast<char16_t>(c);
        }
        return name;
    }

    std::u16string Section() {
        static const char* const kSections[] = {"PELOR", "OTHER", "S", "PELOR", "Misc"};
        std::u16string line = Blanks() + u"[" + Blanks() + Name(kSections, 5) + Blanks();
        const std::uint32_t form = Pick(50);
        if (form == 0) return line;  // unterminated
        line += u"]";
        if (form < 3) line += u"x";
        return line + Blanks();
    }

    std::u16string Text(bool unicode, std::uint32_t length) {
        std::u16string s;
        for (std::uint32_t i = 0; i < length; ++i) {
            const std::uint32_t kind = Pick(20);
            if (kind < 12) {
                s += static_cast<char16_t>("abcXYZ019:\\._- "[Pick(15)]);
            } else if (kind < 15) {
                s += static_cast<char16_t>(0xA1 + Pick(0x5F));  // code page letters and signs
            } else if (kind < 16) {
                s += static_cast<char16_t>(unicode ? 0x100 + Pick(0x80) : 0x80 + Pick(0x20));
            } else if (kind < 18) {
                s += static_cast<char16_t>("\"'="[Pick(3)]);
            } else {
                s += static_cast<char16_t>("[];#"[Pick(4)]);
            }
        }
        return s;
    }

    std::u16string Value(bool unicode) {
        static const char* const kNumbers[] = {
            "0",    "1",          "-5",    "+7", "0x1F",  "0o17", "0b101", "  12abc",
            "0X10", "4294967297", "-0x10", "0x", "00x10", "+-5",  "-",     "2147483648"};
        const std::uint32_t kind = Pick(10);
        std::u16string v;
        if (kind < 3) {
            for (const char* p = kNumbers[Pick(16)]; *p != '\0'; ++p)
                v += static_cast<char16_t>(*p);
        } else if (kind < 5) {
            v = Text(unicode, Pick(30));
        } else if (kind < 8) {
            const char16_t q = Pick(2) == 0 ? u'"' : u'\'';
            v = q + Blanks() + Text(unicode, Pick(12)) + Blanks();
            if (Pick(6) != 0) v += q;
        } else if (kind < 9) {
            v = u"C:\\" + Text(unicode, 200 + Pick(200));
        } else {
            v = Pick(2) == 0 ? u"" : u"\"\"";
        }
        return v;
    }

    std::u16string Line(bool unicode) {
        static const char* const kKeys[] = {"CODEFILE",  "CODECHECK", "DELAY",
                                            "ETC2CHECK", "ETC2FILE",  "FONTADDRESS",
                                            "A",         "B",         "Key"};
        const std::uint32_t kind = Pick(100);
        if (kind < 16) return Section();
        if (kind < 72) {
            return Blanks() + Name(kKeys, 9) + Blanks() + u"=" + Blanks() + Value(unicode) +
                   Blanks();
        }
        if (kind < 78) return Blanks() + Name(kKeys, 9) + Blanks();  // no '=': not a key
        if (kind < 84) return (Pick(2) == 0 ? u";" : u"#") + Text(unicode, Pick(20));
        if (kind < 88) return Text(unicode, Pick(20));
        return Blanks();
    }

    static std::string Encode(const std::u16string& text, int encoding) {
        std::string bytes;
        if (encoding == 0) {
            for (const char16_t u : text) bytes += static_cast<char>(u);
        } else if (encoding == 3) {
            bytes = "\xEF\xBB\xBF" + TEXT_Utf16ToUtf8(text);
        } else {
            const bool le = encoding == 1;
            bytes = le ? "\xFF\xFE" : "\xFE\xFF";
            for (const char16_t u : text) {
                const char lo = static_cast<char>(u & 0xFF);
                const char hi = static_cast<char>(u >> 8);
                bytes += le ? lo : hi;
                bytes += le ? hi : lo;
            }
        }
        return bytes;
    }

    std::mt19937 rng_;
};

std::vector<std::pair<std::string, std::string>> CorpusFiles() {
    std::vector<std::pair<std::string, std::string>> files;
    const char* env = std::getenv("PELOR_INI_CORPUS");
    const std::string folder = env != nullptr && env[0] != '\0' ? env : PELOR_INI_CORPUS;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || name[0] == '.') continue;
        files.emplace_back(name, ReadAll(entry.path().string()));
    }
    std::sort(files.begin(), files.end());
    return files;
}

constexpr int kGeneratedFiles = 300;
constexpr std::uint32_t kSeed = 20260421;

TEST(IniOracle, TheCorpusReadsAsWithTheWindowsFunctions) {
    const auto files = CorpusFiles();
    ASSERT_GE(files.size(), 20u) << "corpus not found: " << PELOR_INI_CORPUS;
    TempDir dir;
    Oracle oracle(dir.path());
    for (const auto& [name, bytes] : files) {
        oracle.CompareReads(name, bytes, CorpusPools());
        oracle.CompareWrites(name, bytes, CorpusPools());
    }
    oracle.Report();
    // The corpus holds each known difference, so that a change of wine shows here.
    EXPECT_GT(oracle.Excused(kQuoteCut), 0);
    EXPECT_GT(oracle.Excused(kUnterminatedHeader), 0);
    EXPECT_GT(oracle.Excused(kLongInteger), 0);
    EXPECT_GT(oracle.Excused(kBareLineFirst), 0);
    EXPECT_GT(oracle.Excused(kLeadingKeys), 0);
}

TEST(IniOracle, GeneratedFilesReadAsWithTheWindowsFunctions) {
    TempDir dir;
    Oracle oracle(dir.path());
    Generator generator(kSeed);
    for (int i = 0; i < kGeneratedFiles; ++i) {
        const std::string bytes = generator.File();
        const std::string label = "generated #" + std::to_string(i);
        oracle.CompareReads(label, bytes, GeneratedPools());
        if (i % 3 == 0) oracle.CompareWrites(label, bytes, GeneratedPools());
        if (HasFailure()) {
            std::printf("%s: \"%s\"\n", label.c_str(), Show(bytes).c_str());
            break;  // one file at a time: the first difference is the one to look at
        }
    }
    oracle.Report();
}

}  // namespace
