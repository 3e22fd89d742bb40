// Paths on Windows: '\' between folders (either separator is taken), drive letters, the work
// folder from GetCurrentDirectoryA, image paths of a code folder, resource paths, and COM port
// numbers. The POSIX forms are tested in tests/config, tests/jobs, tests/resources and
// tests/transport.
#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "config/paths.h"
#include "config/settings.h"
#include "jobs/download_plan.h"
#include "jobs/job_test_util.h"
#include "link/image_table.h"
#include "resources/resource_builder.h"
#include "resources/resource_tree.h"
#include "transport/port_table.h"

namespace {

TEST(WindowsPaths, EitherSeparatorIsTakenAndBackslashIsWritten) {
    EXPECT_EQ(kPathSeparator, '\\');
    EXPECT_TRUE(IsPathSeparator('\\'));
    EXPECT_TRUE(IsPathSeparator('/'));
    EXPECT_FALSE(IsPathSeparator(':'));
    EXPECT_EQ(JoinPath("C:\\images", "pbl.mbn"), "C:\\images\\pbl.mbn");
}

TEST(WindowsPaths, CodeFolderBaseNameWithDriveLettersAndEitherSeparator) {
    struct Case {
        const char* path;
        const char* base;
    };
    const Case cases[] = {
        {"\\WZRTAll", "\\WZRTAll"},  // the default
        {"C:\\images\\BUILD42", "\\BUILD42"},
        {"D:/images/B7", "\\B7"},  // '/' read as a separator, '\' written
        {"E:\\mixed/dir\\X1", "\\X1"},
        {"C:\\images\\WZRTAll\\", "\\"},    // a trailing separator leaves the separator alone
        {"\\\\server\\share\\B9", "\\B9"},  // a UNC path
        {"C:WZRTAll", "C:WZRTAll"},         // relative to the drive: no separator, no split
    };
    for (const Case& c : cases) {
        SETTINGS_CopyText(g_szCodeFile, c.path);
        SETTINGS_SplitCodePath();
        EXPECT_STREQ(g_szImageFolder, c.path);
        EXPECT_STREQ(g_szImageBaseName, c.base) << c.path;
    }
    SETTINGS_ResetGlobals();
}

TEST(WindowsPaths, WorkFolderIsTheCurrentFolderWithItsDriveLetter) {
    SETTINGS_ResetGlobals();
    SETTINGS_InitDirectory();
    const std::string dir = g_szWorkDir;
    ASSERT_GE(dir.size(), 3u) << dir;
    EXPECT_TRUE(std::isalpha(static_cast<unsigned char>(dir[0])) && dir[1] == ':' && dir[2] == '\\')
        << dir;
    const std::string ini = SETTINGS_FilePath();
    EXPECT_EQ(ini, dir + (dir.back() == '\\' ? "" : "\\") + "pelorw.ini");
    SETTINGS_ResetGlobals();
}

TEST(WindowsPaths, ImagesOfACodeFolderAreJoinedWithBackslashes) {
    jobs_test::JobGuard guard;
    jobs_test::TempDir dir;
    const std::string folder = jobs_test::MakeCodeFolder(dir, "WZRTAll");
    g_bChangeBootArea = 1;
    DownloadControls controls;
    controls.codeChecked = true;
    controls.codeAddressText = "70000";
    ASSERT_EQ(PELOR_FillImages(controls, nullptr), DOWNLOAD_READY);
    const auto& t = g_ImageTable[0];
    EXPECT_EQ(t[5].szPath, folder + "\\partition.mbn");
    EXPECT_EQ(t[6].szPath, folder + "\\pbl.mbn");
    EXPECT_EQ(t[10].szPath, folder + "\\oemsbl.mbn");
    EXPECT_EQ(t[11].szPath, folder + "\\WZRTAllhd.mbn");
    EXPECT_EQ(t[12].szPath, folder + "\\WZRTAll.mbn");
    EXPECT_EQ(std::string(g_szImagePath), folder + "\\WZRTAll.mbn");
}

class WindowsResourcePaths : public ResourceTest {};

TEST_F(WindowsResourcePaths, PathsUseBackslashesAndNamesSlashes) {
    tree_.File("img/icons/logo.png", 1);
    std::string error;
    ASSERT_EQ(ScanResourceFolder("", tree_.Root() + "\\", &error), 1) << error;
    ASSERT_EQ(g_nResourceCount, 1);
    EXPECT_STREQ(g_ResourceEntries[0].szName, "img/icons/logo.png");
    EXPECT_STREQ(g_ResourceEntries[0].szPath, "img\\icons\\logo.png");
    EXPECT_EQ(RESOURCE_OutputPath("C:\\res", ""), "C:\\res\\VORODOV_rsc.bin");
    EXPECT_EQ(RESOURCE_OutputPath("C:\\res\\", ""), "C:\\res\\VORODOV_rsc.bin");
}

TEST_F(WindowsResourcePaths, ABuildFromAFolderGivenWithBackslashesPacksItsFiles) {
    tree_.File("a.txt", 3, 0x41);
    tree_.File("sub/b.txt", 1500, 0x42);
    std::string root = tree_.Root();
    for (char& c : root)
        if (c == '/') c = '\\';
    std::string error;
    ASSERT_EQ(RESOURCE_BuildBinary(root, "", nullptr, &error), 1) << error;
    const std::vector<std::uint8_t> image = tree_.Read(kResourceBinaryName);
    ASSERT_EQ(image.size(), 1024u + 1024u + 2048u);  // directory, a.txt, sub/b.txt
    EXPECT_EQ(image[1024], 0x41);
}

TEST(WindowsPortTable, PortNIsComNWhateverTheTableHolds) {
    PORTTABLE_Clear();
    EXPECT_EQ(PORTTABLE_Device(5), "\\\\.\\COM5");
    EXPECT_EQ(PORTTABLE_Device(255), "\\\\.\\COM255");
    EXPECT_EQ(PORTTABLE_Device(0), "");
    EXPECT_EQ(PORTTABLE_Device(256), "");
    EXPECT_EQ(PORTTABLE_Assign("\\\\.\\COM12"), 12);
    EXPECT_EQ(PORTTABLE_Assign("COM7"), 7);
    EXPECT_EQ(PORTTABLE_Find("com3"), 3);
    EXPECT_EQ(PORTTABLE_Find("COM0"), 0);
    EXPECT_EQ(PORTTABLE_Find("COM256"), 0);
    EXPECT_EQ(PORTTABLE_ShortName("\\\\.\\COM12"), "COM12");
    PORTTABLE_Clear();
}

}  // namespace
