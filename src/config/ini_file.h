#pragma once
// INI files with the private-profile contract: a missing file, section or key gives the
// default; a text read is cut to capacity - 1; an integer is read from the value's leading
// decimal digits; a write creates the file, section and key as needed and replaces an existing
// key's value in place, keeping every other line and the file's order. Section and key names
// match without regard to case; bytes are kept as they are; CRLF and LF files both read, and a
// file keeps its line ending style. Every write goes through a temporary file renamed into place.
#include <cstddef>
#include <string>

int INI_GetInt(const std::string& path, const char* section, const char* key, int defaultValue);
// Copies the value (or the default) into out, cut to capacity - 1 and NUL-terminated. Returns
// the number of characters stored.
int INI_GetString(const std::string& path, const char* section, const char* key,
                  const char* defaultValue, char* out, std::size_t capacity);
std::string INI_GetString(const std::string& path, const char* section, const char* key,
                          const std::string& defaultValue);
// 1 on success, 0 when the file could not be written (the old file stays whole).
int INI_WriteString(const std::string& path, const char* section, const char* key,
                    const std::string& value);

// An INI document held in memory, for writing several keys in one replace of the file.
class IniDocument {
public:
    // Loads path; a missing file gives an empty document. Returns 0 only on a read error.
    int Load(const std::string& path);
    void Parse(const std::string& text);
    bool Get(const char* section, const char* key, std::string* value) const;
    // Private-profile reads of the document: the default when the key is missing, an integer
    // from the value's leading decimal digits, a text cut to capacity - 1 (returns its length).
    int GetInt(const char* section, const char* key, int defaultValue) const;
    int GetString(const char* section, const char* key, const char* defaultValue, char* out,
                  std::size_t capacity) const;
    // Sets key=value, in place when the key exists, else at the end of its section (the section
    // is added at the end of the document when missing). A value is cut at its first line break.
    // Returns false, changing nothing, for an empty name, a name with a line break, a key with
    // '=' or a name that would read back as a comment or a section header.
    bool Set(const char* section, const char* key, const std::string& value);
    std::string Text() const;
    // Writes the document to path through a temporary file. 1 on success.
    int Save(const std::string& path) const;

private:
    std::string text_;
    bool crlf_ = false;
    std::string Newline() const { return crlf_ ? "\r\n" : "\n"; }
};
