#pragma once
// SHA-256 of byte streams and files, for recording which images went into a handset.
#include <array>
#include <cstdint>
#include <span>
#include <string>

class Sha256 {
public:
    Sha256();
    void Update(std::span<const std::uint8_t> bytes);
    // The digest; the object must not be updated afterwards.
    std::array<std::uint8_t, 32> Final();

private:
    void Block(const std::uint8_t* p);
    std::array<std::uint32_t, 8> h_;
    std::array<std::uint8_t, 64> buffer_{};
    std::size_t used_ = 0;
    std::uint64_t total_ = 0;
};

// Lower-case hexadecimal digest of bytes.
std::string SHA256_Hex(std::span<const std::uint8_t> bytes);
// Digest of a whole file: 1 with *hex and *size set, 0 when it cannot be read.
int SHA256_File(const std::string& path, std::string* hex, std::int64_t* size);
