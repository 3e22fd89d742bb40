// The resource binary's layout, byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "resource_tree.h"
#include "resources/resource_builder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Record(const std::string& name, std::uint32_t size) {
    Bytes record(128, 0x00);
    std::copy(name.begin(), name.end(), record.begin());
    record[112] = static_cast<std::uint8_t>(size);
    record[113] = static_cast<std::uint8_t>(size >> 8);
    record[114] = static_cast<std::uint8_t>(size >> 16);
    record[115] = static_cast<std::uint8_t>(size >> 24);
    std::fill(record.begin() + 116, record.end(), 0xFF);
    return record;
}

void Place(Bytes& image, std::size_t offset, const Bytes& bytes) {
    ASSERT_LE(offset + bytes.size(), image.size());
    std::copy(bytes.begin(), bytes.end(), image.begin() + static_cast<std::ptrdiff_t>(offset));
}

bool AllFF(const Bytes& image, std::size_t from, std::size_t to) {
    return std::all_of(image.begin() + static_cast<std::ptrdiff_t>(from),
                       image.begin() + static_cast<std::ptrdiff_t>(to),
                       [](std::uint8_t b) { return b == 0xFF; });
}

class ResourceLayout : public ResourceTest {};

TEST_F(ResourceLayout, EmptyFolderGivesOneBlockOfFillerRecords) {
    EXPECT_EQ(Build(), Bytes(1024, 0xFF));
}

TEST_F(ResourceLayout, WorkedExampleToTheByte) {
    tree_.File("a.txt", 10, 0x10);
    tree_.File("img/b.png", 2000, 0x20);

    Bytes expected(4096, 0xFF);
    Place(expected, 0, Record("a.txt", 10));
    Place(expected, 128, Record("img/b.png", 2000));
    Place(expected, 1024, ResourceTree::Pattern(10, 0x10));
    Place(expected, 2048, ResourceTree::Pattern(2000, 0x20));

    const Bytes image = Build();
    ASSERT_EQ(image.size(), 4096u);
    EXPECT_EQ(image, expected);
    // Six filler records, 1014 bytes after a.txt, 48 after b.png.
    EXPECT_TRUE(AllFF(image, 256, 1024));
    EXPECT_TRUE(AllFF(image, 1034, 2048));
    EXPECT_TRUE(AllFF(image, 4048, 4096));
}

TEST_F(ResourceLayout, DirectoryEndsWithOneToEightFillerRecords) {
    struct Case {
        int files;
        std::size_t directory;
        std::size_t fillerRecords;
    };
    for (const Case c : {Case{7, 1024, 1}, Case{8, 2048, 8}, Case{9, 2048, 7}}) {
        SCOPED_TRACE(c.files);
        ResourceTree tree;
        for (int i = 0; i < c.files; ++i) {
            tree.File("f" + std::to_string(i) + ".txt", 1, static_cast<std::uint8_t>(i));
        }
        std::string error;
        ASSERT_EQ(RESOURCE_BuildBinary(tree.Root(), "", nullptr, &error), 1) << error;
        const Bytes image = tree.Read(kResourceBinaryName);

        ASSERT_EQ(image.size(), c.directory + 1024u * static_cast<std::size_t>(c.files));
        const std::size_t recordsEnd = 128u * static_cast<std::size_t>(c.files);
        EXPECT_EQ((c.directory - recordsEnd) / 128, c.fillerRecords);
        EXPECT_TRUE(AllFF(image, recordsEnd, c.directory));
        for (int i = 0; i < c.files; ++i) {
            const std::size_t block = c.directory + 1024u * static_cast<std::size_t>(i);
            EXPECT_EQ(image[block], static_cast<std::uint8_t>(i));
            EXPECT_TRUE(AllFF(image, block + 1, block + 1024));
        }
    }
}

TEST_F(ResourceLayout, WholeBlockHasNoFillerAndEmptyFileTakesNoBlock) {
    tree_.File("a.dat", 1024, 3);
    tree_.File("b.dat", 0);
    tree_.File("c.dat", 1025, 5);

    const Bytes image = Build();
    ASSERT_EQ(image.size(), 1024u + 1024u + 2048u);
    EXPECT_EQ(Bytes(image.begin(), image.begin() + 128), Record("a.dat", 1024));
    EXPECT_EQ(Bytes(image.begin() + 128, image.begin() + 256), Record("b.dat", 0));
    EXPECT_EQ(Bytes(image.begin() + 256, image.begin() + 384), Record("c.dat", 1025));
    EXPECT_EQ(Bytes(image.begin() + 1024, image.begin() + 2048), ResourceTree::Pattern(1024, 3));
    // b.dat's block is empty: c.dat starts right after a.dat.
    EXPECT_EQ(Bytes(image.begin() + 2048, image.begin() + 3073), ResourceTree::Pattern(1025, 5));
    EXPECT_TRUE(AllFF(image, 3073, 4096));
}

TEST_F(ResourceLayout, LargeFileIsCopiedWhole) {
    // Larger than the copy buffer and not a whole number of blocks.
    const std::size_t size = 300 * 1024 + 17;
    tree_.File("big.raw", size, 9);
    const Bytes image = Build();
    ASSERT_EQ(image.size(), 1024u + 301u * 1024u);
    EXPECT_EQ(Bytes(image.begin() + 1024, image.begin() + 1024 + static_cast<std::ptrdiff_t>(size)),
              ResourceTree::Pattern(size, 9));
    EXPECT_TRUE(AllFF(image, 1024 + size, image.size()));
}

TEST_F(ResourceLayout, BuildingTwiceGivesIdenticalFilesAndLeavesTheTableEmpty) {
    tree_.File("a.txt", 10);
    tree_.File("img/icons/b.png", 3000);
    tree_.File("snd/c.wav", 1);
    const Bytes first = Build();
    // The first output now lies in the folder; ".bin" keeps it out of the second.
    const Bytes second = Build();
    EXPECT_EQ(first, second);
    EXPECT_EQ(g_nResourceCount, 0);
    EXPECT_EQ(g_bResourceScanNested, 0);
    EXPECT_EQ(g_szResourceNamePrefix[0], '\0');
    for (const RESOURCE_ENTRY& entry : g_ResourceEntries) {
        ASSERT_TRUE(std::all_of(std::begin(entry.szName), std::end(entry.szName),
                                [](char c) { return c == 0; }));
    }
}

TEST_F(ResourceLayout, ShortNameAfterLongOneIsZeroFilled) {
    const std::string longName = std::string(100, 'n') + ".txt";
    tree_.File(longName, 1);
    Build();
    ResourceTree other;
    other.File("b.txt", 1);
    std::string error;
    ASSERT_EQ(RESOURCE_BuildBinary(other.Root(), "", nullptr, &error), 1) << error;
    const Bytes image = other.Read(kResourceBinaryName);
    EXPECT_EQ(Bytes(image.begin(), image.begin() + 128), Record("b.txt", 1));
}

TEST_F(ResourceLayout, ProgressFollowsEveryFileWithTheBarText) {
    for (const char* name : {"a.txt", "b.txt", "c.txt", "d.txt"}) tree_.File(name, 5);
    std::vector<std::pair<int, int>> calls;
    std::vector<std::string> texts;
    std::string error;
    ASSERT_EQ(RESOURCE_BuildBinary(
                  tree_.Root(), "",
                  [&](int k, int n) {
                      calls.emplace_back(k, n);
                      texts.push_back(RESOURCE_ProgressText(k, n));
                  },
                  &error),
              1)
        << error;
    const std::vector<std::pair<int, int>> expectedCalls{{0, 4}, {1, 4}, {2, 4}, {3, 4}};
    EXPECT_EQ(calls, expectedCalls);
    const std::vector<std::string> expectedTexts{"resource : 0% [1/4]", "resource : 25% [2/4]",
                                                 "resource : 50% [3/4]", "resource : 75% [4/4]"};
    EXPECT_EQ(texts, expectedTexts);
    EXPECT_EQ(RESOURCE_ProgressText(2, 3), "resource : 66% [3/3]");  // rounded down
    EXPECT_EQ(RESOURCE_ProgressText(1498, 1499), "resource : 99% [1499/1499]");
}

TEST_F(ResourceLayout, OutputElsewhereAndInsideTheTreeUnderAnotherName) {
    tree_.File("a.txt", 10);
    ResourceTree elsewhere;
    const std::string out = elsewhere.Path("out.img");
    std::string error;
    ASSERT_EQ(RESOURCE_BuildBinary(tree_.Root(), out, nullptr, &error), 1) << error;
    EXPECT_EQ(ResourceTree::ReadFile(out).size(), 2048u);
    EXPECT_FALSE(tree_.Exists(kResourceBinaryName));
    EXPECT_STREQ(g_szResourceOutPath, out.c_str());

    // An output inside the tree whose name would be packed never packs its earlier self.
    const std::string inside = tree_.Path("res.img");
    ASSERT_EQ(RESOURCE_BuildBinary(tree_.Root(), inside, nullptr, &error), 1) << error;
    const Bytes first = ResourceTree::ReadFile(inside);
    ASSERT_EQ(RESOURCE_BuildBinary(tree_.Root(), inside, nullptr, &error), 1) << error;
    EXPECT_EQ(ResourceTree::ReadFile(inside), first);
    EXPECT_EQ(first.size(), 2048u);
}

}  // namespace
