#pragma once
// The simulated handset's flash: one sparse 32-bit byte space per area. The eight code areas
// are keyed by their selection codes (INIT_PARTITION 0x70 .. INIT_AMSS 0x77); the flash file
// system and the backup area have keys of their own. A byte nobody wrote reads as 0xFF, as on
// erased NAND. Storage is kept in 16 KiB pages created on first write, so a 16 MiB image costs
// 16 MiB and an erase of the whole address space costs nothing.
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

inline constexpr std::uint8_t kSimAreaFs = 0xCC;      // written by FS_WRITE
inline constexpr std::uint8_t kSimAreaBackup = 0xBB;  // kept by ERASE_NAND_EXCEPT_BACKUP
inline constexpr std::uint32_t kSimPageSize = 16384;

// One area's bytes.
class SimSpace {
public:
    // 1 stored, 0 when the range runs past the 32-bit address space (nothing stored).
    int Write(std::uint32_t address, std::span<const std::uint8_t> data);
    // Sets the range to 0xFF. 1 done, 0 when it runs past the address space (nothing erased).
    int Erase(std::uint32_t address, std::uint64_t length);
    void Clear() { pages_.clear(); }
    // Copies out.size() bytes from address; bytes past the address space read 0xFF.
    void Read(std::uint32_t address, std::span<std::uint8_t> out) const;
    // True when the page holding address was written since it was last wholly erased.
    bool Holds(std::uint32_t address) const;
    bool Empty() const { return pages_.empty(); }
    std::size_t PageCount() const { return pages_.size(); }

private:
    std::map<std::uint32_t, std::vector<std::uint8_t>> pages_;  // page index -> kSimPageSize bytes
};

// What a run should have left in flash: bytes at address in area (a code area key, kSimAreaFs
// or kSimAreaBackup).
struct SimExpectedImage {
    std::uint8_t area = 0;
    std::uint32_t address = 0;
    std::vector<std::uint8_t> bytes;
};

struct SimVerifyReport {
    bool ok = true;
    int images = 0;           // images compared
    std::uint64_t bytes = 0;  // bytes compared
    // The first difference when ok is false.
    int image = -1;  // index into the expected list
    std::uint8_t area = 0;
    std::uint32_t address = 0;
    int expected = -1;     // the byte wanted
    int actual = -1;       // the byte found (-1 past the address space)
    bool missing = false;  // nothing was ever written to that page (or the area is absent)
    // "verified 3 images, 1048576 bytes" or
    // "INIT_AMSS at 0x00018000: expected 0x12, found 0xFF (never written)".
    std::string text;
};

class SimFlash {
public:
    static bool IsCodeArea(std::uint8_t area) { return area >= 0x70 && area <= 0x77; }

    // The area's space, created when absent.
    SimSpace& Area(std::uint8_t area) { return areas_[area]; }
    // Null when the area was never touched.
    const SimSpace* Find(std::uint8_t area) const;

    // ERASE_ALL_NAND (keepBackup false) or ERASE_NAND_EXCEPT_BACKUP (true). The file system is
    // gone afterwards either way.
    void EraseNand(bool keepBackup);
    // FS_FORMAT: an empty file system, whatever was there.
    void FormatFs();
    // FS_INIT: keeps the file system when there is one, else makes an empty one.
    void InitFs() { fsExists_ = true; }
    bool FsExists() const { return fsExists_; }
    void MarkFsExisting() { fsExists_ = true; }

    std::vector<std::uint8_t> Read(std::uint8_t area, std::uint32_t address,
                                   std::size_t length) const;
    SimVerifyReport Verify(std::span<const SimExpectedImage> images) const;

private:
    std::map<std::uint8_t, SimSpace> areas_;
    bool fsExists_ = false;
};
