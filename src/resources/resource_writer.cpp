// Writes the entry table out as the resource binary.
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

#include "config/atomic_file.h"
#include "resources/resource_builder.h"

namespace {

// Data is streamed through one buffer of this size (a whole number of blocks).
constexpr std::size_t kCopyChunk = 64 * kResourceBlockSize;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

int Fail(std::string* error, std::string text) {
    if (error) *error = std::move(text);
    return 0;
}

int Put(AtomicFileWriter& out, std::span<const std::uint8_t> bytes, std::string* error) {
    if (bytes.empty() || out.Write(bytes)) return 1;
    return Fail(error, out.Error());
}

std::array<std::uint8_t, kResourceRecordSize> MakeRecord(const RESOURCE_ENTRY& entry) {
    std::array<std::uint8_t, kResourceRecordSize> record{};
    // Exactly the name and zeros after it, whatever the table holds past the terminator.
    const std::size_t length = strnlen(entry.szName, kResourceNameSize - 1);
    std::memcpy(record.data(), entry.szName, length);
    const std::uint32_t size = entry.dwSize;
    record[kResourceNameSize + 0] = static_cast<std::uint8_t>(size);
    record[kResourceNameSize + 1] = static_cast<std::uint8_t>(size >> 8);
    record[kResourceNameSize + 2] = static_cast<std::uint8_t>(size >> 16);
    record[kResourceNameSize + 3] = static_cast<std::uint8_t>(size >> 24);
    std::fill(record.begin() + kResourceNameSize + 4, record.end(), 0xFF);
    return record;
}

// Copies exactly size bytes of the file at path into out.
int CopyData(AtomicFileWriter& out, const std::string& path, std::uint32_t size,
             std::span<std::uint8_t> buffer, std::string* error) {
    UniqueFile file(std::fopen(path.c_str(), "rb"));
    if (!file) return Fail(error, "cannot open " + path + ": " + std::strerror(errno));
    std::uint32_t left = size;
    while (left > 0) {
        const std::size_t want = std::min<std::size_t>(left, buffer.size());
        const std::size_t got = std::fread(buffer.data(), 1, want, file.get());
        if (got < want) {
            if (std::ferror(file.get())) {
                return Fail(error, "cannot read " + path + ": " + std::strerror(errno));
            }
            return Fail(error, path + " has shrunk since the scan: " + std::to_string(size) +
                                   " bytes measured, " + std::to_string(size - left + got) +
                                   " found");
        }
        if (!Put(out, buffer.first(got), error)) return 0;
        left -= static_cast<std::uint32_t>(got);
    }
    return 1;
}

}  // namespace

int WriteResourceBinary(const std::string& root, const std::string& outputPath,
                        const ResourceProgressFn& progress, std::string* error) {
    const std::string output = outputPath.empty() ? root + kResourceBinaryName : outputPath;
    if (output.size() >= sizeof g_szResourceOutPath) {
        return Fail(error, "Output path too long: " + output + " (at most " +
                               std::to_string(sizeof g_szResourceOutPath - 1) + " characters)");
    }
    std::memcpy(g_szResourceOutPath, output.c_str(), output.size() + 1);

    const int count = g_nResourceCount;
    if (count < 0 || count > kResourceMaxEntries) {
        return Fail(error, "Too many files: the resource table holds " +
                               std::to_string(kResourceMaxEntries));
    }

    AtomicFileWriter out;
    if (!out.Open(output)) return Fail(error, out.Error());

    std::array<std::uint8_t, kResourceBlockSize> filler;
    filler.fill(0xFF);
    const std::span<const std::uint8_t> fill(filler);

    for (int k = 0; k < count; ++k) {
        if (!Put(out, MakeRecord(g_ResourceEntries[k]), error)) return 0;
    }
    const std::size_t fillerRecords = 8 - static_cast<std::size_t>(count) % 8;
    if (!Put(out, fill.first(fillerRecords * kResourceRecordSize), error)) return 0;

    std::vector<std::uint8_t> buffer(kCopyChunk);
    for (int k = 0; k < count; ++k) {
        const RESOURCE_ENTRY& entry = g_ResourceEntries[k];
        // Size 0 covers folders taken as files and anything else that is never read as data.
        if (entry.dwSize > 0) {
            if (!CopyData(out, root + entry.szPath, entry.dwSize, buffer, error)) return 0;
            const std::size_t tail = entry.dwSize % kResourceBlockSize;
            if (tail != 0 && !Put(out, fill.first(kResourceBlockSize - tail), error)) {
                return 0;
            }
        }
        if (progress) progress(k, count);
    }
    if (!out.Commit()) return Fail(error, out.Error());
    return 1;
}
