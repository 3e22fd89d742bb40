// What the scan packs, in which order, and what it refuses.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "resource_tree.h"
#include "resources/resource_builder.h"

namespace {

using Names = std::vector<std::string>;

class ResourceScan : public ResourceTest {
protected:
    Names Scan() {
        std::string error;
        EXPECT_EQ(ScanResourceFolder("", tree_.RootSlash(), &error), 1) << error;
        return TableNames();
    }
};

TEST_F(ResourceScan, NameFilterIsCaseSensitiveAndAppliesToFolders) {
    for (const char* name : {"x.bin", "a.binary", "cvsnotes.txt", "CVS", "old.cvs", "my.bin.txt"}) {
        EXPECT_FALSE(RESOURCE_IsNameKept(name)) << name;
    }
    for (const char* name : {"X.BIN", "Cvs.txt", "bin", "a.bi", ".", ".."}) {
        EXPECT_TRUE(RESOURCE_IsNameKept(name)) << name;
    }

    tree_.File("x.bin", 1);
    tree_.File("a.binary", 1);
    tree_.File("cvsnotes.txt", 1);
    tree_.File("CVS/Entries.txt", 1);
    tree_.File("X.BIN", 1);
    tree_.File("Cvs.txt", 1);
    EXPECT_EQ(Scan(), (Names{"Cvs.txt", "X.BIN"}));
}

TEST_F(ResourceScan, DotDecidesBetweenFileAndFolder) {
    tree_.File("README", 50);             // no dot: listed as a folder, contributes nothing
    tree_.File("old.set/inner.txt", 70);  // dot: recorded as a file of size 0, not entered
    tree_.File("img/icons/logo.png", 30);
    tree_.File("img/NOTES", 5);
    tree_.Folder("empty");
    EXPECT_EQ(Scan(), (Names{"img/icons/logo.png", "old.set"}));
    EXPECT_EQ(g_ResourceEntries[0].dwSize, 30u);
    EXPECT_EQ(g_ResourceEntries[1].dwSize, 0u);
}

TEST_F(ResourceScan, FolderTakenAsFileIsNeverReadAsData) {
    tree_.File("old.set/inner.txt", 70);
    tree_.File("z.txt", 3, 0x42);
    const std::vector<std::uint8_t> image = Build();
    ASSERT_EQ(image.size(), 2048u);  // old.set has no block: z.txt starts at 1024
    EXPECT_EQ(image[1024], 0x42);
}

TEST_F(ResourceScan, PathsUsePlatformSeparatorAndNamesSlash) {
    tree_.File("img/icons/logo.png", 1);
    Scan();
    ASSERT_EQ(g_nResourceCount, 1);
    EXPECT_STREQ(g_ResourceEntries[0].szName, "img/icons/logo.png");
    EXPECT_STREQ(g_ResourceEntries[0].szPath, "img/icons/logo.png");
    EXPECT_EQ(g_bResourceScanNested, 1);
    EXPECT_STREQ(g_szResourceNamePrefix, "");  // put back after every entry
}

TEST_F(ResourceScan, NamesAreTakenInByteOrderWhateverTheCreationOrder) {
    for (const char* name : {"z.txt", "b/y.txt", "b/a.txt", "a.txt", "B.txt", "_.txt", "b.txt"}) {
        tree_.File(name, 1);
    }
    EXPECT_EQ(Scan(), (Names{"B.txt", "_.txt", "a.txt", "b/a.txt", "b/y.txt", "b.txt", "z.txt"}));
}

TEST_F(ResourceScan, HiddenFoldersAreSkippedHiddenFilesPacked) {
    tree_.File(".git/objects.pack", 40);
    tree_.File(".svn/entries.txt", 4);
    tree_.File("img/.cache/x.png", 4);
    tree_.File(".keep", 0);
    tree_.File("img/a.png", 3);
    EXPECT_EQ(Scan(), (Names{".keep", "img/a.png"}));
}

TEST_F(ResourceScan, LinksBackUpTheTreeAreNotFollowed) {
    tree_.File("data/x.txt", 1);
    std::filesystem::create_directory_symlink("..", tree_.Path("data/up"));
    std::filesystem::create_directory_symlink(".", tree_.Path("self"));
    std::filesystem::create_directory_symlink("data", tree_.Path("alias"));
    // A link to a folder elsewhere in the tree is packed under its own name.
    EXPECT_EQ(Scan(), (Names{"alias/x.txt", "data/x.txt"}));
}

// A refused build writes nothing: an earlier output stays as it was.
using ResourceRefusal = ResourceTest;

TEST_F(ResourceRefusal, NameLongerThan111Characters) {
    const std::string folder(60, 'f');
    tree_.File(folder + "/" + std::string(46, 'n') + ".txt", 1);  // 111: fits
    std::string error;
    ASSERT_EQ(RESOURCE_BuildBinary(tree_.Root(), "", nullptr, &error), 1) << error;

    tree_.File(folder + "/" + std::string(47, 'n') + ".txt", 1);  // 112: too long
    tree_.Bytes(kResourceBinaryName, {'o', 'l', 'd'});
    EXPECT_EQ(RESOURCE_BuildBinary(tree_.Root(), "", nullptr, &error), 0);
    EXPECT_NE(error.find("Name too long: " + folder + "/"), std::string::npos) << error;
    EXPECT_NE(error.find("111 characters"), std::string::npos) << error;
    EXPECT_EQ(tree_.Read(kResourceBinaryName), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
}

TEST_F(ResourceRefusal, MoreNamesInOneFolderThanAListingHolds) {
    for (int i = 0; i < 698; ++i) tree_.File("many/" + std::to_string(i) + ".txt", 0);
    std::string error;
    ASSERT_EQ(RESOURCE_BuildBinary(tree_.Root(), "", nullptr, &error), 1) << error;
    // Filtered names do not count.
    tree_.File("many/skip.bin", 0);
    ASSERT_EQ(RESOURCE_BuildBinary(tree_.Root(), "", nullptr, &error), 1) << error;

    tree_.File("many/698.txt", 0);
    tree_.Bytes(kResourceBinaryName, {'o', 'l', 'd'});
    EXPECT_EQ(RESOURCE_BuildBinary(tree_.Root(), "", nullptr, &error), 0);
    EXPECT_NE(error.find("Too many names in folder"), std::string::npos) << error;
    EXPECT_EQ(tree_.Read(kResourceBinaryName), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
}

TEST_F(ResourceRefusal, MoreFilesThanTheTableHolds) {
    for (int i = 0; i < 1500; ++i) {
        tree_.File("d" + std::to_string(i / 500) + "/" + std::to_string(i) + ".txt", 0);
    }
    tree_.Bytes(kResourceBinaryName, {'o', 'l', 'd'});
    std::string error;
    EXPECT_EQ(RESOURCE_BuildBinary(tree_.Root(), "", nullptr, &error), 0);
    EXPECT_EQ(error, "Too many files: the resource table holds 1499");
    EXPECT_EQ(tree_.Read(kResourceBinaryName), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
    EXPECT_EQ(g_nResourceCount, 0);
}

TEST_F(ResourceRefusal, RootThatIsNoFolder) {
    tree_.File("plain.txt", 1);
    std::string error;
    EXPECT_EQ(RESOURCE_BuildBinary(tree_.Path("plain.txt"), "", nullptr, &error), 0);
    EXPECT_NE(error.find("is not a folder"), std::string::npos) << error;
    EXPECT_EQ(RESOURCE_BuildBinary(tree_.Path("missing"), tree_.Path("out.img"), nullptr, &error),
              0);
    EXPECT_FALSE(tree_.Exists("out.img"));
    EXPECT_EQ(RESOURCE_BuildBinary("", "", nullptr, &error), 0);
}

TEST_F(ResourceRefusal, UnwritableOutputLeavesNoFile) {
    tree_.File("a.txt", 10);
    tree_.File("blocker.txt", 1);
    std::string error;
    // The output's folder is a regular file: creation fails even for root.
    EXPECT_EQ(
        RESOURCE_BuildBinary(tree_.Root(), tree_.Path("blocker.txt/out.img"), nullptr, &error), 0);
    EXPECT_FALSE(error.empty());
    // The output is a folder.
    tree_.Folder("outdir.img");
    EXPECT_EQ(RESOURCE_BuildBinary(tree_.Root(), tree_.Path("outdir.img"), nullptr, &error), 0);
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(std::filesystem::is_directory(tree_.Path("outdir.img")));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(tree_.Root()),
                            std::filesystem::directory_iterator()),
              3);  // a.txt, blocker.txt, outdir.img: no temporary left behind
}

TEST_F(ResourceRefusal, FileShrunkOrGoneSinceTheScanFailsTheWrite) {
    tree_.File("a.txt", 5000);
    tree_.File("b.txt", 10);
    std::string error;
    ASSERT_EQ(ScanResourceFolder("", tree_.RootSlash(), &error), 1) << error;
    std::filesystem::resize_file(tree_.Path("a.txt"), 4000);
    EXPECT_EQ(WriteResourceBinary(tree_.RootSlash(), "", nullptr, &error), 0);
    EXPECT_NE(error.find("has shrunk since the scan"), std::string::npos) << error;
    EXPECT_FALSE(tree_.Exists(kResourceBinaryName));

    std::filesystem::remove(tree_.Path("b.txt"));
    std::filesystem::resize_file(tree_.Path("a.txt"), 5000);
    EXPECT_EQ(WriteResourceBinary(tree_.RootSlash(), "", nullptr, &error), 0);
    EXPECT_NE(error.find("cannot open"), std::string::npos) << error;
    EXPECT_FALSE(tree_.Exists(kResourceBinaryName));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(tree_.Root()),
                            std::filesystem::directory_iterator()),
              1);
}

TEST_F(ResourceRefusal, UnreadableFileOrFolderIsAnErrorNotAnOmission) {
    if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
    tree_.File("a.txt", 10);
    ::chmod(tree_.Path("a.txt").c_str(), 0);
    std::string error;
    EXPECT_EQ(RESOURCE_BuildBinary(tree_.Root(), "", nullptr, &error), 0);
    EXPECT_NE(error.find("cannot open"), std::string::npos) << error;
    ::chmod(tree_.Path("a.txt").c_str(), 0644);

    tree_.File("locked/b.txt", 1);
    ::chmod(tree_.Path("locked").c_str(), 0);
    EXPECT_EQ(RESOURCE_BuildBinary(tree_.Root(), "", nullptr, &error), 0);
    EXPECT_NE(error.find("cannot list folder"), std::string::npos) << error;
    ::chmod(tree_.Path("locked").c_str(), 0755);
    EXPECT_FALSE(tree_.Exists(kResourceBinaryName));
}

}  // namespace
