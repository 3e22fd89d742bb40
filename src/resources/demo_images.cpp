#include "resources/demo_images.h"

#include <filesystem>
#include <vector>

#include "config/atomic_file.h"
#include "config/paths.h"
#include "resources/resource_builder.h"

namespace {

// Deterministic bytes that look like firmware: every value occurs, flag bytes included.
std::vector<std::uint8_t> Pattern(std::size_t size, std::uint32_t seed) {
    std::vector<std::uint8_t> bytes(size);
    std::uint32_t x = seed * 2654435761u + 1u;
    for (auto& b : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<std::uint8_t>(x >> 24);
    }
    return bytes;
}

bool Write(const std::string& path, std::size_t size, std::uint32_t seed, std::uint64_t* total,
           std::string* error) {
    if (!ATOMIC_WriteFile(path, Pattern(size, seed), error)) return false;
    if (total) *total += size;
    return true;
}

}  // namespace

int DEMO_MakeImages(const std::string& root, std::uint32_t amssBytes, DemoImages& images,
                    std::string* error) {
    namespace fs = std::filesystem;
    std::error_code ec;
    images = DemoImages{};
    images.codeDir = JoinPath(root, "WZRTAll");
    const std::string resources = JoinPath(root, "resources");
    fs::create_directories(images.codeDir, ec);
    fs::create_directories(JoinPath(resources, "img"), ec);
    fs::create_directories(JoinPath(resources, "snd"), ec);
    if (ec) {
        if (error) *error = "cannot create the demo folders under " + root + ": " + ec.message();
        return 0;
    }
    struct Image {
        const char* name;
        std::size_t size;
    };
    const Image code[] = {{"partition.mbn", 4096},       {"pbl.mbn", 48 * 1024},
                          {"qcsblhd_cfgdata.mbn", 2000}, {"qcsbl.mbn", 160 * 1024},
                          {"oemsblhd.mbn", 1000},        {"oemsbl.mbn", 300 * 1024 + 77},
                          {"WZRTAllhd.mbn", 1500},       {"WZRTAll.mbn", amssBytes}};
    std::uint32_t seed = 1;
    for (const Image& image : code) {
        if (!Write(JoinPath(images.codeDir, image.name), image.size, seed++, &images.bytes, error))
            return 0;
    }
    for (int i = 0; i < 24; ++i) {
        const std::string name = "icon" + std::to_string(i) + ".png";
        if (!Write(JoinPath(JoinPath(resources, "img"), name), 3000 + 517 * i, seed++, nullptr,
                   error))
            return 0;
    }
    for (int i = 0; i < 8; ++i) {
        const std::string name = "ring" + std::to_string(i) + ".mid";
        if (!Write(JoinPath(JoinPath(resources, "snd"), name), 9000 + 1234 * i, seed++, nullptr,
                   error))
            return 0;
    }
    if (!Write(JoinPath(resources, "strings.txt"), 12345, seed++, nullptr, error)) return 0;
    images.resourceFile = JoinPath(resources, kResourceBinaryName);
    if (!RESOURCE_BuildBinary(resources, images.resourceFile, {}, error)) return 0;
    images.bytes += fs::file_size(images.resourceFile, ec);
    return 1;
}
