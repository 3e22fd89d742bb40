#pragma once
// Writes a whole file through a temporary file in the same folder that is renamed into place,
// so a crash or a full disk never leaves a half-written file behind.
#include <cstdint>
#include <span>
#include <string>

// 1 on success; 0 on failure, with the old file (if any) untouched and no temporary left.
// On failure *error (if given) says why.
int ATOMIC_WriteFile(const std::string& path, std::span<const std::uint8_t> bytes,
                     std::string* error = nullptr);
int ATOMIC_WriteFile(const std::string& path, const std::string& text,
                     std::string* error = nullptr);

// True when path names an existing file that may not be written: no write permission for anyone
// (or for this user), or the read-only attribute on Windows. Such a file is never replaced.
bool ATOMIC_IsReadOnly(const std::string& path);

// Streaming form for large outputs: Open creates the temporary, Write appends, Commit flushes,
// syncs and renames; the destructor (or Abort) removes an uncommitted temporary. Open, Write and
// Commit return 1 on success and 0 on failure; a failure removes the temporary, leaves the
// destination as it was and puts the reason in Error(). A new file gets mode 0644; a replaced
// file keeps its mode, and a symbolic link is written through to its target. A read-only
// destination (ATOMIC_IsReadOnly) is refused at Open.
class AtomicFileWriter {
public:
    AtomicFileWriter() = default;
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    int Open(const std::string& path);
    int Write(std::span<const std::uint8_t> bytes);
    int Commit();
    void Abort();
    const std::string& Error() const { return error_; }

private:
    std::string path_;
    std::string tempPath_;
    int fd_ = -1;
    std::string error_;
};
