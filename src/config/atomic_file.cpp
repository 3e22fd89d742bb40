// Whole-file replacement through a temporary file in the destination's folder.
#include "config/atomic_file.h"

#include <cerrno>
#include <cstdlib>
#include <system_error>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#endif

namespace {

std::string ErrnoText(int err) {
    return std::generic_category().message(err);
}

#ifndef _WIN32
// Folder part of path ("." when the path names no folder).
std::string FolderOf(const std::string& path) {
    const std::size_t cut = path.find_last_of('/');
    if (cut == std::string::npos) return ".";
    if (cut == 0) return path.substr(0, 1);
    return path.substr(0, cut);
}

// A symbolic link is replaced at its target, so the link itself survives the write.
std::string ResolveTarget(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) == nullptr) return path;
    return resolved;
}

// Creates a unique temporary from a template ending in "XXXXXX"; -1 with errno on failure.
int MakeTemp(std::string& templ) {
    std::vector<char> name(templ.begin(), templ.end());
    name.push_back('\0');
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0) templ.assign(name.data());
    return fd;
}
#endif

}  // namespace

AtomicFileWriter::~AtomicFileWriter() {
    Abort();
}

#ifdef _WIN32

int AtomicFileWriter::Open(const std::string& path) {
    Abort();
    error_.clear();
    path_ = path;
    if (ATOMIC_IsReadOnly(path_)) {
        error_ = "cannot replace " + path_ + ": it is read-only";
        return 0;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::vector<char> name(path.begin(), path.end());
        const std::string suffix = ".tmp-XXXXXX";
        name.insert(name.end(), suffix.begin(), suffix.end());
        name.push_back('\0');
        if (_mktemp_s(name.data(), name.size()) != 0) break;
        int fd = -1;
        const errno_t rc = _sopen_s(&fd, name.data(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY,
                                    _SH_DENYRW, _S_IREAD | _S_IWRITE);
        if (rc == 0) {
            fd_ = fd;
            tempPath_.assign(name.data());
            return 1;
        }
        if (rc != EEXIST) {
            error_ = "cannot create a temporary file for " + path + ": " + ErrnoText(rc);
            return 0;
        }
    }
    error_ = "cannot create a temporary file for " + path;
    return 0;
}

int AtomicFileWriter::Write(std::span<const std::uint8_t> bytes) {
    if (fd_ < 0) {
        if (error_.empty()) error_ = "no file open";
        return 0;
    }
    while (!bytes.empty()) {
        const unsigned chunk =
            bytes.size() > 0x40000000u ? 0x40000000u : static_cast<unsigned>(bytes.size());
        const int n = _write(fd_, bytes.data(), chunk);
        if (n <= 0) {
            const std::string why = n < 0 ? ErrnoText(errno) : "nothing written";
            Abort();
            error_ = "cannot write " + path_ + ": " + why;
            return 0;
        }
        bytes = bytes.subspan(static_cast<std::size_t>(n));
    }
    return 1;
}

int AtomicFileWriter::Commit() {
    if (fd_ < 0) {
        if (error_.empty()) error_ = "no file open";
        return 0;
    }
    if (_commit(fd_) != 0) {
        const std::string why = ErrnoText(errno);
        Abort();
        error_ = "cannot flush " + path_ + ": " + why;
        return 0;
    }
    const int fd = std::exchange(fd_, -1);
    if (_close(fd) != 0) {
        const std::string why = ErrnoText(errno);
        Abort();
        error_ = "cannot close " + path_ + ": " + why;
        return 0;
    }
    if (!MoveFileExA(tempPath_.c_str(), path_.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const unsigned long code = GetLastError();
        Abort();
        error_ = "cannot replace " + path_ + ": " + std::system_category().message(int(code));
        return 0;
    }
    tempPath_.clear();
    return 1;
}

void AtomicFileWriter::Abort() {
    if (fd_ >= 0) _close(std::exchange(fd_, -1));
    if (!tempPath_.empty()) {
        DeleteFileA(tempPath_.c_str());
        tempPath_.clear();
    }
}

#else

int AtomicFileWriter::Open(const std::string& path) {
    Abort();
    error_.clear();
    path_ = ResolveTarget(path);

    // Keep the mode of a file that is being replaced; a new file gets 0644.
    mode_t mode = 0644;
    struct stat st {};
    if (::stat(path_.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            error_ = "cannot write " + path_ + ": " + ErrnoText(EISDIR);
            return 0;
        }
        mode = st.st_mode & 0777;
        // The rename would replace it regardless of its mode; a locked file stays as it is.
        if (ATOMIC_IsReadOnly(path_)) {
            error_ = "cannot replace " + path_ + ": it is read-only";
            return 0;
        }
    }

    std::string temp = path_ + ".tmp-XXXXXX";
    int fd = MakeTemp(temp);
    if (fd < 0 && errno == ENAMETOOLONG) {
        // The name itself is near the limit: fall back to a short hidden name in the same folder.
        temp = FolderOf(path_) + "/.tmp-XXXXXX";
        fd = MakeTemp(temp);
    }
    if (fd < 0) {
        error_ = "cannot create a temporary file for " + path_ + ": " + ErrnoText(errno);
        return 0;
    }
    fd_ = fd;
    tempPath_ = temp;
    if (::fchmod(fd_, mode) != 0) {
        const std::string why = ErrnoText(errno);
        Abort();
        error_ = "cannot set the mode of " + path_ + ": " + why;
        return 0;
    }
    return 1;
}

int AtomicFileWriter::Write(std::span<const std::uint8_t> bytes) {
    if (fd_ < 0) {
        if (error_.empty()) error_ = "no file open";
        return 0;
    }
    while (!bytes.empty()) {
        const std::size_t chunk = bytes.size() > 0x40000000u ? 0x40000000u : bytes.size();
        const ssize_t n = ::write(fd_, bytes.data(), chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const std::string why = n < 0 ? ErrnoText(errno) : "nothing written";
            Abort();
            error_ = "cannot write " + path_ + ": " + why;
            return 0;
        }
        bytes = bytes.subspan(static_cast<std::size_t>(n));
    }
    return 1;
}

int AtomicFileWriter::Commit() {
    if (fd_ < 0) {
        if (error_.empty()) error_ = "no file open";
        return 0;
    }
    int rc;
    do {
        rc = ::fsync(fd_);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const std::string why = ErrnoText(errno);
        Abort();
        error_ = "cannot flush " + path_ + ": " + why;
        return 0;
    }
    // close() is not retried: after EINTR the descriptor is already gone on Linux.
    if (::close(std::exchange(fd_, -1)) != 0) {
        const std::string why = ErrnoText(errno);
        Abort();
        error_ = "cannot close " + path_ + ": " + why;
        return 0;
    }
    if (::rename(tempPath_.c_str(), path_.c_str()) != 0) {
        const std::string why = ErrnoText(errno);
        Abort();
        error_ = "cannot replace " + path_ + ": " + why;
        return 0;
    }
    tempPath_.clear();
    // Make the rename itself durable; the file is in place either way.
    const int dir = ::open(FolderOf(path_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return 1;
}

void AtomicFileWriter::Abort() {
    if (fd_ >= 0) ::close(std::exchange(fd_, -1));
    if (!tempPath_.empty()) {
        ::unlink(tempPath_.c_str());
        tempPath_.clear();
    }
}

#endif

bool ATOMIC_IsReadOnly(const std::string& path) {
#ifdef _WIN32
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
           (attributes & FILE_ATTRIBUTE_READONLY) != 0;
#else
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
    // No write bit at all locks the file also for root, whom access() lets write anything.
    return (st.st_mode & 0222) == 0 || ::access(path.c_str(), W_OK) != 0;
#endif
}

int ATOMIC_WriteFile(const std::string& path, std::span<const std::uint8_t> bytes,
                     std::string* error) {
    AtomicFileWriter writer;
    const int ok = writer.Open(path) && writer.Write(bytes) && writer.Commit();
    if (!ok && error != nullptr) *error = writer.Error();
    return ok;
}

int ATOMIC_WriteFile(const std::string& path, const std::string& text, std::string* error) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(text.data());
    return ATOMIC_WriteFile(path, std::span<const std::uint8_t>(data, text.size()), error);
}
