// INI files read line by line as the private-profile functions read them; writes keep every
// unit of the file the station does not change.
#include "config/ini_file.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

#include "config/atomic_file.h"
#include "config/text_encoding.h"

namespace {

using Units = std::u16string;
using UnitView = std::u16string_view;

#ifdef _WIN32
constexpr UnitView kDefaultNewline = u"\r\n";
#else
constexpr UnitView kDefaultNewline = u"\n";
#endif
constexpr char16_t kEndOfFile = 0x1A;  // the old end-of-file mark of text files

bool IsBlank(char16_t c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

UnitView Trim(UnitView s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && IsBlank(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

char16_t Lower(char16_t c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char16_t>(c - 'A' + 'a') : c;
}

bool SameName(UnitView a, UnitView b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) return false;
    }
    return true;
}

// One line of the file: its content without the line break, and the break as it was.
struct Line {
    Units content;
    Units eol;
};

enum class Kind { kBlank, kComment, kSection, kKey, kOther };

struct Parsed {
    Kind kind = Kind::kBlank;
    UnitView name;   // section or key name, trimmed
    UnitView value;  // key value, trimmed
};

// The length of the line break at pos: LF, CR LF, CR alone, or CR CR LF (a CR LF file that was
// converted once more), taken as one break so that lines added to such a file get it too.
std::size_t BreakLength(UnitView text, std::size_t pos) {
    if (text[pos] == '\n') return 1;
    if (text.substr(pos, 3) == u"\r\r\n") return 3;
    if (text.substr(pos, 2) == u"\r\n") return 2;
    return 1;
}

std::vector<Line> SplitLines(UnitView text) {
    std::vector<Line> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t end = text.find_first_of(u"\r\n", pos);
        if (end == UnitView::npos) {
            lines.push_back({Units(text.substr(pos)), Units()});
            break;
        }
        const std::size_t n = BreakLength(text, end);
        lines.push_back({Units(text.substr(pos, end - pos)), Units(text.substr(end, n))});
        pos = end + n;
    }
    return lines;
}

Units JoinLines(const std::vector<Line>& lines) {
    Units text;
    for (const Line& line : lines) {
        text += line.content;
        text += line.eol;
    }
    return text;
}

Parsed Classify(UnitView content) {
    Parsed p;
    const UnitView t = Trim(content);
    if (t.empty()) return p;
    if (t.front() == ';' || t.front() == '#') {
        p.kind = Kind::kComment;
        return p;
    }
    if (t.front() == '[') {
        // A header without its closing bracket still opens the section.
        p.kind = Kind::kSection;
        const std::size_t close = t.find(']');
        p.name = Trim(t.substr(1, close == UnitView::npos ? UnitView::npos : close - 1));
        return p;
    }
    const std::size_t eq = t.find('=');
    if (eq == UnitView::npos) {
        p.kind = Kind::kOther;  // not a key: reads give the default
        return p;
    }
    p.kind = Kind::kKey;
    p.name = Trim(t.substr(0, eq));
    p.value = Trim(t.substr(eq + 1));
    return p;
}

// The lines [first, end) of the first section of the name: first is its header; -1 when none.
struct Range {
    long header = -1;
    std::size_t end = 0;
};

Range FindSection(const std::vector<Line>& lines, UnitView section) {
    Range r;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const Parsed p = Classify(lines[i].content);
        if (p.kind != Kind::kSection) continue;
        if (r.header >= 0) {
            r.end = i;
            return r;
        }
        if (SameName(p.name, section)) r.header = static_cast<long>(i);
    }
    r.end = lines.size();
    return r;
}

// The first key line of the name in the first section of its name; -1 when none.
long FindKey(const std::vector<Line>& lines, UnitView section, UnitView key) {
    const Range r = FindSection(lines, section);
    if (r.header < 0) return -1;
    for (std::size_t i = static_cast<std::size_t>(r.header) + 1; i < r.end; ++i) {
        const Parsed p = Classify(lines[i].content);
        if (p.kind == Kind::kKey && SameName(p.name, key)) return static_cast<long>(i);
    }
    return -1;
}

// One matching pair of double or single quotes around the whole value is not part of it.
UnitView Unquote(UnitView v) {
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
        return v.substr(1, v.size() - 2);
    }
    return v;
}

int CopyCut(std::string_view text, char* out, std::size_t capacity) {
    if (out == nullptr || capacity == 0) return 0;
    const std::size_t n = text.size() < capacity - 1 ? text.size() : capacity - 1;
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
    return static_cast<int>(n);
}

bool HasLineBreak(std::string_view s) {
    return s.find_first_of("\r\n") != std::string_view::npos;
}

int DigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'z') return c - 'a' + 10;
    if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
    return 99;
}

}  // namespace

int INI_ParseInt(const std::string& text) {
    // The text ends at a NUL as the system's C string does.
    const std::string_view s(text.c_str());
    std::size_t i = 0;
    while (i < s.size() && static_cast<unsigned char>(s[i]) <= ' ') ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
    int base = 10;
    if (i + 1 < s.size() && s[i] == '0') {
        const char prefix = s[i + 1];
        base = prefix == 'x' ? 16 : prefix == 'o' ? 8 : prefix == 'b' ? 2 : 10;
        if (base != 10) i += 2;
    }
    std::uint32_t n = 0;
    for (; i < s.size(); ++i) {
        const int digit = DigitValue(s[i]);
        if (digit >= base) break;
        n = n * static_cast<std::uint32_t>(base) + static_cast<std::uint32_t>(digit);
    }
    return static_cast<int>(negative ? 0u - n : n);
}

int IniDocument::Load(const std::string& path) {
    Parse("");
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        // A missing file (or a missing folder on the way) reads as an empty document.
        return (errno == ENOENT || errno == ENOTDIR) ? 1 : 0;
    }
    std::string bytes;
    char buffer[8192];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, n);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) return 0;
    Parse(bytes);
    return 1;
}

void IniDocument::Parse(const std::string& bytes) {
    const std::string_view b(bytes);
    units_.clear();
    strayByte_.clear();
    endMark_ = false;
    if (b.substr(0, 2) == "\xFF\xFE" || b.substr(0, 2) == "\xFE\xFF") {
        encoding_ = b[0] == '\xFF' ? Encoding::kUtf16Le : Encoding::kUtf16Be;
        const std::size_t lowFirst = encoding_ == Encoding::kUtf16Le ? 0 : 1;
        std::size_t i = 2;
        for (; i + 1 < b.size(); i += 2) {
            const auto lo = static_cast<unsigned char>(b[i + lowFirst]);
            const auto hi = static_cast<unsigned char>(b[i + 1 - lowFirst]);
            units_ += static_cast<char16_t>(lo | (hi << 8));
        }
        strayByte_ = std::string(b.substr(i));  // kept, so that a save changes nothing else
    } else {
        const bool utf8 = b.substr(0, 3) == "\xEF\xBB\xBF";
        encoding_ = utf8 ? Encoding::kUtf8 : Encoding::kSingleByte;
        for (const char c : b.substr(utf8 ? 3 : 0)) units_ += static_cast<unsigned char>(c);
    }
    if (!units_.empty() && units_.back() == kEndOfFile) {
        units_.pop_back();
        endMark_ = true;
    }
    const std::size_t nl = units_.find_first_of(u"\r\n");
    newline_ =
        nl == Units::npos ? Units(kDefaultNewline) : units_.substr(nl, BreakLength(units_, nl));
}

std::u16string IniDocument::ToUnits(const std::string& narrow) const {
    switch (encoding_) {
        case Encoding::kUtf16Le:
        case Encoding::kUtf16Be:
            return TEXT_NarrowToUtf16(narrow);
        case Encoding::kUtf8:
        case Encoding::kSingleByte:
            break;
    }
    const std::string bytes = encoding_ == Encoding::kUtf8 ? TEXT_NarrowToUtf8(narrow) : narrow;
    Units units;
    for (const char c : bytes) units += static_cast<unsigned char>(c);
    return units;
}

std::string IniDocument::FromUnits(UnitView units) const {
    if (encoding_ == Encoding::kUtf16Le || encoding_ == Encoding::kUtf16Be) {
        return TEXT_Utf16ToNarrow(units);
    }
    std::string bytes;
    for (const char16_t u : units) bytes += static_cast<char>(u);
    return encoding_ == Encoding::kUtf8 ? TEXT_Utf8ToNarrow(bytes) : bytes;
}

bool IniDocument::Get(const char* section, const char* key, std::string* value) const {
    if (section == nullptr || key == nullptr) return false;
    const std::vector<Line> lines = SplitLines(units_);
    const Units sec = ToUnits(std::string(Trim(section)));
    const long at = FindKey(lines, sec, ToUnits(std::string(Trim(key))));
    if (at < 0) return false;
    if (value != nullptr) {
        *value = FromUnits(Unquote(Classify(lines[static_cast<std::size_t>(at)].content).value));
    }
    return true;
}

int IniDocument::GetInt(const char* section, const char* key, int defaultValue) const {
    std::string value;
    // An empty value counts as missing, as with the platform's profile functions.
    if (!Get(section, key, &value) || value.empty()) return defaultValue;
    return INI_ParseInt(value);
}

int IniDocument::GetString(const char* section, const char* key, const char* defaultValue,
                           char* out, std::size_t capacity) const {
    std::string value;
    if (!Get(section, key, &value)) {
        value = defaultValue != nullptr ? defaultValue : "";
        while (!value.empty() && value.back() == ' ') value.pop_back();
    }
    return CopyCut(value, out, capacity);
}

bool IniDocument::Set(const char* section, const char* key, const std::string& value) {
    if (section == nullptr || key == nullptr) return false;
    const std::string_view sec = Trim(section);
    const std::string_view k = Trim(key);
    if (sec.empty() || k.empty() || HasLineBreak(sec) || HasLineBreak(k)) return false;
    if (sec.find(']') != std::string_view::npos) return false;
    if (k.find('=') != std::string_view::npos) return false;
    if (k.front() == ';' || k.front() == '#' || k.front() == '[') return false;
    // A line break in the value would split the line and could forge other keys.
    const Units v = ToUnits(value.substr(0, value.find_first_of("\r\n")));
    const Units secUnits = ToUnits(std::string(sec));
    const Units keyUnits = ToUnits(std::string(k));

    std::vector<Line> lines = SplitLines(units_);
    const long at = FindKey(lines, secUnits, keyUnits);
    if (at >= 0) {
        // The line becomes KEY=value with the existing key's spelling, as the platform writes it.
        Line& line = lines[static_cast<std::size_t>(at)];
        line.content = Units(Classify(line.content).name) + u'=' + v;
        units_ = JoinLines(lines);
        return true;
    }

    const Line added{keyUnits + u'=' + v, newline_};
    const Range r = FindSection(lines, secUnits);
    if (r.header >= 0) {
        // A line of the key's name without '=' becomes the key: some readers take such a line
        // for the key with no value, which would hide a key added after it.
        for (std::size_t i = static_cast<std::size_t>(r.header) + 1; i < r.end; ++i) {
            const UnitView bare = Trim(lines[i].content);
            if (Classify(bare).kind == Kind::kOther && SameName(bare, keyUnits)) {
                lines[i].content = Units(bare) + u'=' + v;
                units_ = JoinLines(lines);
                return true;
            }
        }
        std::size_t after = static_cast<std::size_t>(r.header);
        for (std::size_t i = after + 1; i < r.end; ++i) {
            const Kind kind = Classify(lines[i].content).kind;
            if (kind == Kind::kKey || kind == Kind::kOther) after = i;
        }
        if (lines[after].eol.empty()) lines[after].eol = newline_;
        lines.insert(lines.begin() + static_cast<long>(after) + 1, added);
    } else {
        if (!lines.empty() && lines.back().eol.empty()) lines.back().eol = newline_;
        lines.push_back({u'[' + secUnits + u']', newline_});
        lines.push_back(added);
    }
    units_ = JoinLines(lines);
    return true;
}

std::string IniDocument::Text() const {
    std::string bytes;
    Units units = units_;
    if (endMark_) units += kEndOfFile;
    switch (encoding_) {
        case Encoding::kSingleByte:
        case Encoding::kUtf8:
            if (encoding_ == Encoding::kUtf8) bytes = "\xEF\xBB\xBF";
            for (const char16_t u : units) bytes += static_cast<char>(u);
            break;
        case Encoding::kUtf16Le:
        case Encoding::kUtf16Be: {
            const bool le = encoding_ == Encoding::kUtf16Le;
            bytes = le ? "\xFF\xFE" : "\xFE\xFF";
            for (const char16_t u : units) {
                const char lo = static_cast<char>(u & 0xFF);
                const char hi = static_cast<char>(u >> 8);
                bytes += le ? lo : hi;
                bytes += le ? hi : lo;
            }
            bytes += strayByte_;
            break;
        }
    }
    return bytes;
}

int IniDocument::Save(const std::string& path) const {
    return ATOMIC_WriteFile(path, Text());
}

int INI_GetInt(const std::string& path, const char* section, const char* key, int defaultValue) {
    IniDocument doc;
    doc.Load(path);  // an unreadable file reads as empty: the default applies
    return doc.GetInt(section, key, defaultValue);
}

int INI_GetString(const std::string& path, const char* section, const char* key,
                  const char* defaultValue, char* out, std::size_t capacity) {
    IniDocument doc;
    doc.Load(path);
    return doc.GetString(section, key, defaultValue, out, capacity);
}

std::string INI_GetString(const std::string& path, const char* section, const char* key,
                          const std::string& defaultValue) {
    IniDocument doc;
    doc.Load(path);
    std::string value;
    return doc.Get(section, key, &value) ? value : defaultValue;
}

int INI_WriteString(const std::string& path, const char* section, const char* key,
                    const std::string& value) {
    IniDocument doc;
    // A file that exists but cannot be read is not overwritten with a near-empty one.
    if (!doc.Load(path)) return 0;
    if (!doc.Set(section, key, value)) return 0;
    return doc.Save(path);
}
