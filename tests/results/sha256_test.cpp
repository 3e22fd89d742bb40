// SHA-256 against the published test vectors, fed whole and in awkward pieces.
#include "results/sha256.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace {

std::span<const std::uint8_t> Bytes(const std::string& s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

}  // namespace

TEST(Sha256, PublishedVectors) {
    EXPECT_EQ(SHA256_Hex(Bytes("")),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(SHA256_Hex(Bytes("abc")),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // 56 bytes: the length no longer fits the first block's padding.
    EXPECT_EQ(SHA256_Hex(Bytes("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(SHA256_Hex(Bytes(std::string(1000000, 'a'))),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(Sha256, PiecesOfAnySizeGiveTheSameDigest) {
    std::string text;
    for (int i = 0; i < 1000; ++i) text += static_cast<char>(i * 7 + 3);
    const std::string whole = SHA256_Hex(Bytes(text));
    for (std::size_t piece : {1u, 3u, 55u, 63u, 64u, 65u, 127u, 999u}) {
        Sha256 s;
        for (std::size_t at = 0; at < text.size(); at += piece) {
            s.Update(Bytes(text.substr(at, piece)));
        }
        std::string hex;
        for (std::uint8_t b : s.Final()) {
            char two[3];
            std::snprintf(two, sizeof two, "%02x", b);
            hex += two;
        }
        EXPECT_EQ(hex, whole) << "pieces of " << piece;
    }
}

TEST(Sha256, FileDigestAndSizeOrFailureForAMissingFile) {
    TempDir dir;
    const std::string path = dir / "image.mbn";
    std::ofstream(path, std::ios::binary) << std::string(200000, 'a');
    std::string hex;
    std::int64_t size = 0;
    ASSERT_EQ(SHA256_File(path, &hex, &size), 1);
    EXPECT_EQ(size, 200000);
    EXPECT_EQ(hex, SHA256_Hex(Bytes(std::string(200000, 'a'))));
    EXPECT_EQ(SHA256_File(dir / "missing.mbn", &hex, &size), 0);
}
