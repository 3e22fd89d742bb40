// INI files read and written line by line, keeping every byte the station does not change.
#include "config/ini_file.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

#include "config/atomic_file.h"

namespace {

#ifdef _WIN32
constexpr bool kDefaultCrlf = true;
#else
constexpr bool kDefaultCrlf = false;
#endif

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) return false;
    }
    return true;
}

// One line of the file: its content without the line break, and the break as it was.
struct Line {
    std::string content;
    std::string eol;
};

enum class Kind { kBlank, kComment, kSection, kKey };

struct Parsed {
    Kind kind = Kind::kBlank;
    std::string_view name;   // section or key name, trimmed
    std::string_view value;  // key value, trimmed
};

std::vector<Line> SplitLines(const std::string& text) {
    std::vector<Line> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t nl = text.find('\n', pos);
        if (nl == std::string::npos) {
            lines.push_back({text.substr(pos), ""});
            break;
        }
        std::size_t end = nl;
        if (end > pos && text[end - 1] == '\r') --end;
        lines.push_back({text.substr(pos, end - pos), text.substr(end, nl + 1 - end)});
        pos = nl + 1;
    }
    return lines;
}

std::string JoinLines(const std::vector<Line>& lines) {
    std::string text;
    for (const Line& line : lines) {
        text += line.content;
        text += line.eol;
    }
    return text;
}

Parsed Classify(std::string_view content, bool first) {
    // A byte order mark at the very start is kept in the file but not taken as part of a name.
    if (first && content.substr(0, 3) == "\xEF\xBB\xBF") content.remove_prefix(3);
    Parsed p;
    const std::string_view t = Trim(content);
    if (t.empty()) return p;
    if (t.front() == ';' || t.front() == '#') {
        p.kind = Kind::kComment;
        return p;
    }
    if (t.front() == '[') {
        p.kind = Kind::kSection;
        const std::size_t close = t.find(']');
        p.name =
            Trim(t.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
        return p;
    }
    p.kind = Kind::kKey;
    const std::size_t eq = t.find('=');
    if (eq == std::string_view::npos) {
        p.name = t;
    } else {
        p.name = Trim(t.substr(0, eq));
        p.value = Trim(t.substr(eq + 1));
    }
    return p;
}

// Finds the first key line of a matching section; -1 when none.
long FindKey(const std::vector<Line>& lines, std::string_view section, std::string_view key) {
    bool inSection = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const Parsed p = Classify(lines[i].content, i == 0);
        if (p.kind == Kind::kSection) {
            inSection = SameName(p.name, section);
        } else if (inSection && p.kind == Kind::kKey && SameName(p.name, key)) {
            return static_cast<long>(i);
        }
    }
    return -1;
}

// The integer of a private-profile value: optional sign, then the leading decimal digits
// (none gives 0). Wraps at 32 bits as the platform's conversion does.
int LeadingInt(std::string_view value) {
    bool negative = false;
    if (!value.empty() && (value.front() == '-' || value.front() == '+')) {
        negative = value.front() == '-';
        value.remove_prefix(1);
    }
    std::uint32_t n = 0;
    for (char c : value) {
        if (c < '0' || c > '9') break;
        n = n * 10u + static_cast<std::uint32_t>(c - '0');
    }
    return static_cast<int>(negative ? 0u - n : n);
}

int CopyCut(const std::string& text, char* out, std::size_t capacity) {
    if (out == nullptr || capacity == 0) return 0;
    const std::size_t n = text.size() < capacity - 1 ? text.size() : capacity - 1;
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
    return static_cast<int>(n);
}

bool HasLineBreak(std::string_view s) {
    return s.find_first_of("\r\n") != std::string_view::npos;
}

}  // namespace

int IniDocument::Load(const std::string& path) {
    Parse("");
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        // A missing file (or a missing folder on the way) reads as an empty document.
        return (errno == ENOENT || errno == ENOTDIR) ? 1 : 0;
    }
    std::string text;
    char buffer[8192];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) return 0;
    Parse(text);
    return 1;
}

void IniDocument::Parse(const std::string& text) {
    text_ = text;
    const std::size_t nl = text_.find('\n');
    if (nl == std::string::npos) {
        crlf_ = kDefaultCrlf;
    } else {
        crlf_ = nl > 0 && text_[nl - 1] == '\r';
    }
}

bool IniDocument::Get(const char* section, const char* key, std::string* value) const {
    if (section == nullptr || key == nullptr) return false;
    const std::vector<Line> lines = SplitLines(text_);
    const long at = FindKey(lines, Trim(section), Trim(key));
    if (at < 0) return false;
    if (value != nullptr) {
        const std::size_t i = static_cast<std::size_t>(at);
        *value = std::string(Classify(lines[i].content, i == 0).value);
    }
    return true;
}

int IniDocument::GetInt(const char* section, const char* key, int defaultValue) const {
    std::string value;
    // An empty value counts as missing, as with the platform's profile functions.
    if (!Get(section, key, &value) || value.empty()) return defaultValue;
    return LeadingInt(value);
}

int IniDocument::GetString(const char* section, const char* key, const char* defaultValue,
                           char* out, std::size_t capacity) const {
    std::string value;
    if (!Get(section, key, &value)) value = defaultValue != nullptr ? defaultValue : "";
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
    const std::string v = value.substr(0, value.find_first_of("\r\n"));

    std::vector<Line> lines = SplitLines(text_);
    const long at = FindKey(lines, sec, k);
    if (at >= 0) {
        Line& line = lines[static_cast<std::size_t>(at)];
        const Parsed p = Classify(line.content, at == 0);
        // The line becomes KEY=value with the existing key's spelling, as the platform writes
        // it; a byte order mark in front of the first line stays.
        const bool bom = at == 0 && line.content.compare(0, 3, "\xEF\xBB\xBF") == 0;
        std::string rewritten = bom ? "\xEF\xBB\xBF" : "";
        rewritten += std::string(p.name) + "=" + v;
        line.content = std::move(rewritten);
        text_ = JoinLines(lines);
        return true;
    }

    const Line added{std::string(k) + "=" + v, Newline()};
    long header = -1;
    long lastKey = -1;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const Parsed p = Classify(lines[i].content, i == 0);
        if (p.kind == Kind::kSection) {
            if (header >= 0) break;  // end of the first matching section
            if (SameName(p.name, sec)) header = static_cast<long>(i);
        } else if (header >= 0 && p.kind == Kind::kKey) {
            lastKey = static_cast<long>(i);
        }
    }
    if (header >= 0) {
        const std::size_t after = static_cast<std::size_t>(lastKey >= 0 ? lastKey : header);
        if (lines[after].eol.empty()) lines[after].eol = Newline();
        lines.insert(lines.begin() + static_cast<long>(after) + 1, added);
    } else {
        if (!lines.empty() && lines.back().eol.empty()) lines.back().eol = Newline();
        lines.push_back({"[" + std::string(sec) + "]", Newline()});
        lines.push_back(added);
    }
    text_ = JoinLines(lines);
    return true;
}

std::string IniDocument::Text() const {
    return text_;
}

int IniDocument::Save(const std::string& path) const {
    return ATOMIC_WriteFile(path, text_);
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
