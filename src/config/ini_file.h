#pragma once
// INI files read as the Windows private-profile functions read them, and written in place.
//
// Reads: a missing file, section or key gives the default. Only the first section of a name
// counts; a later section of the same name is not read. A line is a key only when it holds '=';
// names and values lose the blanks around them, and names match without regard to the case of
// ASCII letters. A value within one matching pair of double or single quotes loses the quotes.
// A text read is cut to capacity - 1 after that. An integer is read as the system reads one:
// blanks, an optional sign, a "0x", "0o" or "0b" base prefix, then digits of that base up to the
// first other character, wrapping at 32 bits; an empty value gives the default. Lines end in LF,
// CR LF or CR alone; a 0x1A that ends the file is not text. A file that starts with a UTF-16
// (either byte order) or UTF-8 byte order mark is read in that encoding; any other file is
// single-byte text, whose bytes are kept as they are.
//
// Writes create the file, section and key as needed and replace an existing key's value in
// place, keeping every other line byte for byte, the file's encoding and its line ending. A new
// file ends its lines in CR LF on Windows and LF elsewhere. Every write goes through a temporary
// file renamed into place.
#include <cstddef>
#include <string>

int INI_GetInt(const std::string& path, const char* section, const char* key, int defaultValue);
// Copies the value (or the default without its trailing spaces) into out, cut to capacity - 1
// and NUL-terminated. Returns the number of characters stored.
int INI_GetString(const std::string& path, const char* section, const char* key,
                  const char* defaultValue, char* out, std::size_t capacity);
std::string INI_GetString(const std::string& path, const char* section, const char* key,
                          const std::string& defaultValue);
// 1 on success, 0 when the file could not be written (the old file stays whole).
int INI_WriteString(const std::string& path, const char* section, const char* key,
                    const std::string& value);

// The integer of a value text as the private-profile functions convert it (see above).
int INI_ParseInt(const std::string& text);

// An INI document held in memory, for writing several keys in one replace of the file.
class IniDocument {
public:
    // Loads path; a missing file gives an empty document. Returns 0 only on a read error.
    int Load(const std::string& path);
    // Takes the bytes of a file.
    void Parse(const std::string& bytes);
    // The value of a key, quotes removed, in the station's narrow text.
    bool Get(const char* section, const char* key, std::string* value) const;
    // Private-profile reads of the document: the default when the key is missing, an integer
    // as described above, a text cut to capacity - 1 (returns its length).
    int GetInt(const char* section, const char* key, int defaultValue) const;
    int GetString(const char* section, const char* key, const char* defaultValue, char* out,
                  std::size_t capacity) const;
    // Sets key=value, in place when the key exists in the section's first copy, else after the
    // last key of that copy (the section is added at the end of the document when missing). A
    // value is cut at its first line break. Returns false, changing nothing, for an empty name,
    // a name with a line break, a key with '=' or a name that would read back as a comment or a
    // section header.
    bool Set(const char* section, const char* key, const std::string& value);
    // The bytes of the file, in its own encoding.
    std::string Text() const;
    // Writes the document to path through a temporary file. 1 on success.
    int Save(const std::string& path) const;

    enum class Encoding { kSingleByte, kUtf8, kUtf16Le, kUtf16Be };
    Encoding FileEncoding() const { return encoding_; }

private:
    // The file as code units: bytes for single-byte and UTF-8 files, UTF-16 units otherwise;
    // without its byte order mark, a final 0x1A or a stray last byte of a UTF-16 file.
    std::u16string units_;
    Encoding encoding_ = Encoding::kSingleByte;
    std::u16string newline_;
    bool endMark_ = false;
    std::string strayByte_;

    std::u16string ToUnits(const std::string& narrow) const;
    std::string FromUnits(std::u16string_view units) const;
};
