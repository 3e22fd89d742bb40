// The remembered folders in the user's configuration folder.
#include "config/remembered_folders.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "config/ini_file.h"
#include "config_test_util.h"

#ifndef _WIN32

using config_test::ReadAll;
using config_test::TempDir;

namespace {

// Points XDG_CONFIG_HOME at a private folder for the test and puts the old value back.
class RememberedFoldersTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* old = std::getenv("XDG_CONFIG_HOME");
        hadOld_ = old != nullptr;
        if (hadOld_) old_ = old;
        ::setenv("XDG_CONFIG_HOME", (dir_ / "xdg").c_str(), 1);
        REG_SetConfigRootForTesting("");
    }
    void TearDown() override {
        REG_SetConfigRootForTesting("");
        if (hadOld_) {
            ::setenv("XDG_CONFIG_HOME", old_.c_str(), 1);
        } else {
            ::unsetenv("XDG_CONFIG_HOME");
        }
    }
    std::string Store() const { return dir_ / "xdg/VELDRIN/QUILLSTREAM.ini"; }

    TempDir dir_;
    bool hadOld_ = false;
    std::string old_;
};

}  // namespace

TEST_F(RememberedFoldersTest, AMissingStoreReadsEmpty) {
    EXPECT_EQ(REG_ReadFolder("BIN_FILE"), "");
    EXPECT_EQ(REG_ReadFolder("RSC_FILE"), "");
    EXPECT_FALSE(config_test::Exists(dir_ / "xdg"));  // reading creates nothing
    EXPECT_EQ(REG_StoreLocation(), Store());
}

TEST_F(RememberedFoldersTest, BothValuesRoundTripInTheirOwnSection) {
    ASSERT_EQ(REG_WriteFolder("BIN_FILE", "/data/images/BUILD42"), 1);
    ASSERT_EQ(REG_WriteFolder("RSC_FILE", "/data/rsc/VORODOV_rsc.bin"), 1);
    EXPECT_EQ(REG_ReadFolder("BIN_FILE"), "/data/images/BUILD42");
    EXPECT_EQ(REG_ReadFolder("RSC_FILE"), "/data/rsc/VORODOV_rsc.bin");
    EXPECT_EQ(ReadAll(Store()),
              "[SOFTWARE\\VELDRIN\\QUILLSTREAM]\nBIN_FILE=/data/images/BUILD42\n"
              "RSC_FILE=/data/rsc/VORODOV_rsc.bin\n");

    ASSERT_EQ(REG_WriteFolder("BIN_FILE", "/other"), 1);
    EXPECT_EQ(REG_ReadFolder("BIN_FILE"), "/other");
    EXPECT_EQ(REG_ReadFolder("RSC_FILE"), "/data/rsc/VORODOV_rsc.bin");
}

TEST_F(RememberedFoldersTest, ALongPathIsStoredWhole) {
    std::string path;
    while (path.size() < 300) path += "/folder" + std::to_string(path.size());
    ASSERT_EQ(REG_WriteFolder("BIN_FILE", path), 1);
    EXPECT_EQ(REG_ReadFolder("BIN_FILE"), path);
}

TEST_F(RememberedFoldersTest, APathThatCannotBeStoredIsRefusedAndChangesNothing) {
    ASSERT_EQ(REG_WriteFolder("BIN_FILE", "/kept"), 1);
    EXPECT_EQ(REG_WriteFolder("BIN_FILE", "/two\nRSC_FILE=/forged"), 0);
    EXPECT_EQ(REG_ReadFolder("BIN_FILE"), "/kept");
    EXPECT_EQ(REG_ReadFolder("RSC_FILE"), "");
    EXPECT_EQ(REG_WriteFolder(nullptr, "/x"), 0);
    EXPECT_EQ(REG_ReadFolder(nullptr), "");
}

TEST_F(RememberedFoldersTest, AConfigFolderThatIsAFileFailsTheWrite) {
    config_test::WriteAll(dir_ / "xdg", "not a folder");
    EXPECT_EQ(REG_WriteFolder("BIN_FILE", "/x"), 0);
    EXPECT_EQ(REG_ReadFolder("BIN_FILE"), "");
}

TEST_F(RememberedFoldersTest, TheTestRootTakesPrecedenceAndHomeIsTheFallback) {
    REG_SetConfigRootForTesting(dir_ / "root");
    ASSERT_EQ(REG_WriteFolder("RSC_FILE", "/r"), 1);
    EXPECT_TRUE(config_test::Exists(dir_ / "root/VELDRIN/QUILLSTREAM.ini"));
    EXPECT_FALSE(config_test::Exists(dir_ / "xdg"));
    REG_SetConfigRootForTesting("");
    EXPECT_EQ(REG_ReadFolder("RSC_FILE"), "");

    // Without XDG_CONFIG_HOME the store is under $HOME/.config.
    const char* home = std::getenv("HOME");
    const std::string oldHome = home != nullptr ? home : "";
    ::unsetenv("XDG_CONFIG_HOME");
    ::setenv("HOME", dir_.path().c_str(), 1);
    EXPECT_EQ(REG_StoreLocation(), dir_ / ".config/VELDRIN/QUILLSTREAM.ini");
    ASSERT_EQ(REG_WriteFolder("BIN_FILE", "/h"), 1);
    EXPECT_EQ(REG_ReadFolder("BIN_FILE"), "/h");
    if (home != nullptr) {
        ::setenv("HOME", oldHome.c_str(), 1);
    } else {
        ::unsetenv("HOME");
    }
}

#endif
