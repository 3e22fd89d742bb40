#pragma once
// A pseudo-terminal for tests: the test holds the master side, the code under test opens the
// slave by its path (/dev/pts/N) as it would a serial port. POSIX only.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

class PtyPair {
public:
    // Opens a master (non-blocking, close-on-exec) and unlocks its slave. ok() tells.
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool ok() const { return master_ >= 0 && !slavePath_.empty(); }
    int master() const { return master_; }
    const std::string& slavePath() const { return slavePath_; }

    // Hangs up the slave side: its readers see end of file / EIO.
    void CloseMaster();

    // Writes all of bytes into the master within bound; returns the count written.
    std::size_t WriteMaster(std::span<const std::uint8_t> bytes,
                            std::chrono::milliseconds bound = std::chrono::seconds(5));
    // Reads from the master until count bytes arrived, the bound passed, or the slave side
    // closed with nothing more queued.
    std::vector<std::uint8_t> ReadMaster(std::size_t count,
                                         std::chrono::milliseconds bound = std::chrono::seconds(5));

private:
    int master_ = -1;
    std::string slavePath_;
};

// Every byte value 0x00..0xFF, repeated to size.
std::vector<std::uint8_t> AllByteValues(std::size_t size);
