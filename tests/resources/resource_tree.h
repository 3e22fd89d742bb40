#pragma once
// A scratch folder tree for the resource builder's tests, removed with the object.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "resources/resource_builder.h"

class ResourceTree {
public:
    ResourceTree() {
        std::string templ = (std::filesystem::temp_directory_path() / "pelor-rsc-XXXXXX").string();
        root_ = ::mkdtemp(templ.data()) ? templ : std::string();
        EXPECT_FALSE(root_.empty());
    }
    ~ResourceTree() {
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }
    ResourceTree(const ResourceTree&) = delete;
    ResourceTree& operator=(const ResourceTree&) = delete;

    const std::string& Root() const { return root_; }
    std::string Path(const std::string& relative) const { return root_ + "/" + relative; }
    // Root with the trailing separator, as the scan and the writer take it.
    std::string RootSlash() const { return root_ + "/"; }

    // Creates the file (and its folders) holding size bytes of Pattern(size, seed).
    void File(const std::string& relative, std::size_t size, std::uint8_t seed = 1) const {
        Bytes(relative, Pattern(size, seed));
    }
    void Bytes(const std::string& relative, const std::vector<std::uint8_t>& bytes) const {
        const std::filesystem::path path = Path(relative);
        std::filesystem::create_directories(path.parent_path());
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    }
    void Folder(const std::string& relative) const {
        std::filesystem::create_directories(Path(relative));
    }
    std::vector<std::uint8_t> Read(const std::string& relative) const {
        return ReadFile(Path(relative));
    }
    bool Exists(const std::string& relative) const {
        std::error_code ec;
        return std::filesystem::exists(Path(relative), ec);
    }

    static std::vector<std::uint8_t> Pattern(std::size_t size, std::uint8_t seed) {
        std::vector<std::uint8_t> bytes(size);
        for (std::size_t i = 0; i < size; ++i) {
            bytes[i] = static_cast<std::uint8_t>(seed + i * 7 + (i >> 8));
        }
        return bytes;
    }
    static std::vector<std::uint8_t> ReadFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

private:
    std::string root_;
};

// Names of the table's entries in table order.
inline std::vector<std::string> TableNames() {
    std::vector<std::string> names;
    for (int i = 0; i < g_nResourceCount; ++i) names.emplace_back(g_ResourceEntries[i].szName);
    return names;
}

// Every test starts and ends with an empty table.
class ResourceTest : public ::testing::Test {
protected:
    void SetUp() override { RESOURCE_ClearEntries(); }
    void TearDown() override { RESOURCE_ClearEntries(); }

    // Builds tree_ into its default output; returns the output's bytes (empty on failure).
    std::vector<std::uint8_t> Build() {
        std::string error;
        EXPECT_EQ(RESOURCE_BuildBinary(tree_.Root(), "", nullptr, &error), 1) << error;
        return tree_.Read(kResourceBinaryName);
    }

    ResourceTree tree_;
};
