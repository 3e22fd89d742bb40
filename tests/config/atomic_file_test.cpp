// Whole-file replacement: the old file stays whole on every failure, and no temporary is left.
#include "config/atomic_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdint>
#include <vector>

#include "config_test_util.h"

using config_test::List;
using config_test::ReadAll;
using config_test::TempDir;
using config_test::WriteAll;

namespace {

std::span<const std::uint8_t> Bytes(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

unsigned ModeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0);
    return st.st_mode & 0777u;
}

// Limits the size of files this process may write, so a write fails as on a full disk;
// works for root too. Restores the limit and the signal on destruction.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        oldHandler_ = ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        ::signal(SIGXFSZ, oldHandler_);
    }

private:
    rlimit saved_{};
    void (*oldHandler_)(int) = nullptr;
};

}  // namespace

TEST(AtomicWrite, ReplacesTheFileAndLeavesNoTemporary) {
    TempDir dir;
    const std::string path = dir / "out.ini";
    std::string error;
    ASSERT_EQ(ATOMIC_WriteFile(path, std::string("first"), &error), 1) << error;
    EXPECT_EQ(ModeOf(path), 0644u);
    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
    ASSERT_EQ(ATOMIC_WriteFile(path, std::string("second\n"), &error), 1) << error;
    EXPECT_EQ(ReadAll(path), "second\n");
    EXPECT_EQ(ModeOf(path), 0600u);  // a replaced file keeps its mode
    EXPECT_EQ(List(dir.path()), std::vector<std::string>{"out.ini"});
    ASSERT_EQ(ATOMIC_WriteFile(path, std::string()), 1);
    EXPECT_EQ(ReadAll(path), "");
}

TEST(AtomicWrite, FailureLeavesTheOldFileWholeAndSaysWhy) {
    TempDir dir;
    std::string error;
    EXPECT_EQ(ATOMIC_WriteFile(dir / "missing/out.ini", std::string("x"), &error), 0);
    EXPECT_NE(error.find("missing/out.ini"), std::string::npos) << error;

    // A folder where the file should be is not replaced.
    const std::string folder = dir / "folder";
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    error.clear();
    EXPECT_EQ(ATOMIC_WriteFile(folder, std::string("x"), &error), 0);
    EXPECT_FALSE(error.empty());

    // A write that runs out of room (as on a full disk) keeps the old file.
    const std::string path = dir / "out.bin";
    WriteAll(path, "old contents");
    {
        FileSizeLimit limit(16);
        error.clear();
        EXPECT_EQ(ATOMIC_WriteFile(path, std::string(4096, 'n'), &error), 0);
    }
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(ReadAll(path), "old contents");
    EXPECT_EQ(List(dir.path()), (std::vector<std::string>{"folder", "out.bin"}));

    // A read-only file is not replaced, also for root (whom the rename would let).
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    EXPECT_TRUE(ATOMIC_IsReadOnly(path));
    error.clear();
    EXPECT_EQ(ATOMIC_WriteFile(path, std::string("new"), &error), 0);
    EXPECT_NE(error.find("read-only"), std::string::npos) << error;
    EXPECT_EQ(ReadAll(path), "old contents");
    EXPECT_EQ(List(dir.path()), (std::vector<std::string>{"folder", "out.bin"}));
    ::chmod(path.c_str(), 0644);
}

TEST(AtomicWrite, ASymbolicLinkIsWrittenThroughToItsTarget) {
    TempDir dir;
    WriteAll(dir / "target.ini", "old");
    ASSERT_EQ(::symlink("target.ini", (dir / "link.ini").c_str()), 0);
    ASSERT_EQ(ATOMIC_WriteFile(dir / "link.ini", std::string("new")), 1);
    EXPECT_EQ(ReadAll(dir / "target.ini"), "new");
    char target[64] = {};
    EXPECT_GT(::readlink((dir / "link.ini").c_str(), target, sizeof target - 1), 0);
    EXPECT_STREQ(target, "target.ini");
}

TEST(AtomicFileWriterTest, StreamedOutputAppearsOnlyOnCommit) {
    TempDir dir;
    const std::string path = dir / "VORODOV_rsc.bin";
    WriteAll(path, "previous");
    std::string expected;
    {
        AtomicFileWriter writer;
        ASSERT_EQ(writer.Open(path), 1) << writer.Error();
        for (int i = 0; i < 200; ++i) {
            const std::string block(16384 + i, static_cast<char>(i));
            ASSERT_EQ(writer.Write(Bytes(block)), 1) << writer.Error();
            expected += block;
        }
        EXPECT_EQ(ReadAll(path), "previous");
        const auto names = List(dir.path());
        ASSERT_EQ(names.size(), 2u);
        EXPECT_EQ(names[1].rfind("VORODOV_rsc.bin.tmp-", 0), 0u) << names[1];
        ASSERT_EQ(writer.Commit(), 1) << writer.Error();
        EXPECT_EQ(writer.Commit(), 0);  // nothing open any more
    }
    EXPECT_EQ(ReadAll(path), expected);
    EXPECT_EQ(List(dir.path()), std::vector<std::string>{"VORODOV_rsc.bin"});
}

TEST(AtomicFileWriterTest, AnUncommittedTemporaryIsRemoved) {
    TempDir dir;
    const std::string path = dir / "out.bin";
    WriteAll(path, "kept");
    {
        AtomicFileWriter writer;
        ASSERT_EQ(writer.Open(path), 1);
        ASSERT_EQ(writer.Write(Bytes("partial")), 1);
    }  // destroyed without Commit
    EXPECT_EQ(ReadAll(path), "kept");
    EXPECT_EQ(List(dir.path()), std::vector<std::string>{"out.bin"});

    AtomicFileWriter writer;
    ASSERT_EQ(writer.Open(path), 1);
    writer.Abort();
    EXPECT_EQ(writer.Write(Bytes("late")), 0);
    EXPECT_EQ(writer.Commit(), 0);
    EXPECT_EQ(ReadAll(path), "kept");
    EXPECT_EQ(List(dir.path()), std::vector<std::string>{"out.bin"});
    // The writer can be used again.
    ASSERT_EQ(writer.Open(path), 1);
    ASSERT_EQ(writer.Write(Bytes("again")), 1);
    ASSERT_EQ(writer.Commit(), 1);
    EXPECT_EQ(ReadAll(path), "again");
}

TEST(AtomicFileWriterTest, AFailedWriteOrRenameRemovesTheTemporary) {
    TempDir dir;
    const std::string path = dir / "out.bin";
    WriteAll(path, "kept");
    {
        AtomicFileWriter writer;
        ASSERT_EQ(writer.Open(path), 1);
        {
            FileSizeLimit limit(1000);
            EXPECT_EQ(writer.Write(Bytes(std::string(5000, 'x'))), 0);
        }
        EXPECT_NE(writer.Error().find("out.bin"), std::string::npos) << writer.Error();
        EXPECT_EQ(writer.Commit(), 0);
        EXPECT_NE(writer.Error().find("out.bin"), std::string::npos) << writer.Error();
    }
    EXPECT_EQ(ReadAll(path), "kept");
    EXPECT_EQ(List(dir.path()), std::vector<std::string>{"out.bin"});

    // The destination turns into a non-empty folder before the rename.
    const std::string other = dir / "other.bin";
    AtomicFileWriter writer;
    ASSERT_EQ(writer.Open(other), 1);
    ASSERT_EQ(writer.Write(Bytes("data")), 1);
    ASSERT_EQ(::mkdir(other.c_str(), 0755), 0);
    WriteAll(other + "/inside", "x");
    EXPECT_EQ(writer.Commit(), 0);
    EXPECT_FALSE(writer.Error().empty());
    EXPECT_EQ(List(dir.path()), (std::vector<std::string>{"other.bin", "out.bin"}));
}

TEST(AtomicFileWriterTest, AVeryLongNameStillGetsATemporary) {
    TempDir dir;
    const std::string path = dir / std::string(250, 'n');  // no room for ".tmp-XXXXXX"
    AtomicFileWriter writer;
    ASSERT_EQ(writer.Open(path), 1) << writer.Error();
    ASSERT_EQ(writer.Write(Bytes("long")), 1);
    ASSERT_EQ(writer.Commit(), 1) << writer.Error();
    EXPECT_EQ(ReadAll(path), "long");
    EXPECT_EQ(List(dir.path()), std::vector<std::string>{std::string(250, 'n')});
}
