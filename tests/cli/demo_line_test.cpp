// `pelor demo --line` starts programs and a server of its own and must leave none behind: its
// children stopped within their bounds (also one that ignores being asked), its throw-away
// PostgreSQL server stopped and its folder removed (also when interrupted while it starts), and
// a clear refusal where no server is installed.
#include "demo_line.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <fstream>

#include "child_process.h"
#include "pelor_command.h"
#include "throwaway_postgres.h"

namespace fs = std::filesystem;

namespace {

class DemoLine : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "pelor-demo-line-test-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    // A program in a folder of version folders, as the server's packages install them.
    void FakeProgram(const std::string& version, const std::string& name) {
        const fs::path bin = dir_ / "programs" / version / "bin";
        fs::create_directories(bin);
        std::ofstream(bin / name) << "#!/bin/sh\nexit 0\n";
        ::chmod((bin / name).c_str(), 0755);
    }
    fs::path dir_;
};

TEST_F(DemoLine, ChildrenEndWithinTheirBoundsAndSayWhyTheyCouldNotStart) {
    using namespace std::chrono;
    // One that ends when asked, one that ignores being asked (as a stuck bench would).
    ChildProcess polite;
    ChildProcess stubborn;
    std::string error;
    ChildCommand command;
    command.argv = {"/bin/sh", "-c", "echo \"$DEMO_WORD\"; exec sleep 30"};
    command.environment = {{"DEMO_WORD", "benches"}};
    command.out = (dir_ / "polite.log").string();
    ASSERT_TRUE(polite.Start(command, &error)) << error;
    // It says so once it ignores being asked: asked before that, it would end at once.
    command.argv = {"/bin/sh", "-c", "trap '' TERM; echo deaf; exec sleep 30"};
    command.out = (dir_ / "stubborn.log").string();
    ASSERT_TRUE(stubborn.Start(command, &error)) << error;
    ASSERT_TRUE(WaitUntil([&] { return Slurp(dir_ / "polite.log") == "benches\n"; }, 5s));
    ASSERT_TRUE(WaitUntil([&] { return Slurp(dir_ / "stubborn.log") == "deaf\n"; }, 5s));

    auto start = steady_clock::now();
    EXPECT_TRUE(polite.Stop(2s, 2s));
    EXPECT_LT(steady_clock::now() - start, 1500ms);
    EXPECT_EQ(polite.Status(), 128 + SIGTERM);

    start = steady_clock::now();
    EXPECT_FALSE(stubborn.Stop(200ms, 200ms));  // killed
    EXPECT_LT(steady_clock::now() - start, 3s);
    EXPECT_FALSE(stubborn.Running());
    EXPECT_EQ(::kill(stubborn.Pid(), 0), -1);  // reaped: nothing of it left

    ChildProcess missing;
    command.argv = {(dir_ / "no-such-program").string()};
    EXPECT_FALSE(missing.Start(command, &error));
    EXPECT_NE(error.find("no-such-program: cannot run"), std::string::npos) << error;
}

TEST_F(DemoLine, TheNewestInstalledServerIsFoundAndNoneIsRefusedClearly) {
    EXPECT_EQ(ThrowawayPostgres::FindPrograms((dir_ / "programs").string()), "");
    FakeProgram("9.6", "initdb");
    FakeProgram("9.6", "pg_ctl");
    FakeProgram("15", "initdb");
    FakeProgram("15", "pg_ctl");
    FakeProgram("17", "initdb");  // only half there: passed over
    FakeProgram("latest", "initdb");
    FakeProgram("latest", "pg_ctl");
    EXPECT_EQ(ThrowawayPostgres::FindPrograms((dir_ / "programs").string()),
              (dir_ / "programs" / "15" / "bin").string());

    DemoLineOptions options;
    options.programsRoot = (dir_ / "nothing-installed").string();
    const fs::path errPath = dir_ / "err.txt";
    std::FILE* err = std::fopen(errPath.c_str(), "w");
    ASSERT_NE(err, nullptr);
    EXPECT_EQ(CLI_RunDemoLine(options, stdout, err), 2);
    std::fclose(err);
    const std::string text = Slurp(errPath);
    EXPECT_NE(text.find("scripts/setup results-server"), std::string::npos) << text;
    EXPECT_NE(text.find("--results"), std::string::npos) << text;
}

TEST_F(DemoLine, TheThrowAwayServerRunsOnASocketOnlyAndIsRemovedAfterwards) {
    if (ThrowawayPostgres::FindPrograms("/usr/lib/postgresql").empty()) {
        GTEST_SKIP() << "no PostgreSQL server installed (scripts/setup results-server)";
    }
    // As root the server's user must reach the folder: this one, not TMPDIR (which the tests
    // keep closed to others).
    std::string root = "/tmp/pelor-demo-line-test-pg-XXXXXX";
    if (::geteuid() != 0) root = (dir_ / "XXXXXX").string();
    ASSERT_NE(::mkdtemp(root.data()), nullptr);
    ::chmod(root.c_str(), 0755);
    struct Remove {
        std::string path;
        ~Remove() {
            std::error_code ec;
            fs::remove_all(path, ec);
        }
    } remove{root};
    ThrowawayPostgresOptions options;
    options.tempRoot = root;
    std::string folder;
    {
        ThrowawayPostgres server(options);
        std::string error;
        ASSERT_TRUE(server.Start(&error)) << error;
        folder = server.Folder();
        EXPECT_TRUE(fs::exists(fs::path(folder) / ".s.PGSQL.5432"));
        EXPECT_NE(server.Url().find("host=" + folder), std::string::npos) << server.Url();
        // Only the socket: the server was told to listen on no address.
        const std::string opts = Slurp(fs::path(folder) / "data" / "postmaster.opts");
        EXPECT_NE(opts.find("\"listen_addresses=\""), std::string::npos) << opts;
        std::ifstream pidFile(fs::path(folder) / "data" / "postmaster.pid");
        long pid = 0;
        ASSERT_TRUE(pidFile >> pid);
        EXPECT_TRUE(server.Remove());
        EXPECT_FALSE(fs::exists(folder));
        // Its processes are gone (reaped by the system soon after they end).
        EXPECT_TRUE(WaitUntil([&] { return ::kill(static_cast<pid_t>(pid), 0) != 0; },
                              std::chrono::seconds(5)))
            << "the server still runs";
    }
    // Interrupted while it starts: nothing is left behind.
    ThrowawayPostgres server(options);
    std::string error;
    EXPECT_FALSE(server.Start(&error, [] { return true; }));
    EXPECT_EQ(error, "interrupted");
    EXPECT_TRUE(fs::is_empty(root)) << "left: " << fs::directory_iterator(root)->path();
}

TEST_F(DemoLine, OptionsThatDoNotGoTogetherAreRefusedBeforeAnythingStarts) {
    const fs::path dir = dir_;
    const struct {
        std::vector<std::string> args;
        const char* says;
    } cases[] = {
        {{"demo", "--for", "10s"}, "go with --line"},
        {{"demo", "--results", "postgresql://x/y"}, "go with --line"},
        {{"demo", "--line", "--continuous"}, "not with --continuous"},
        {{"demo", "--line", "--for", "ten"}, "--for takes a duration"},
    };
    for (const auto& c : cases) {
        const PelorRun r = RunPelor(dir, c.args);
        EXPECT_EQ(r.status, 2) << c.args.back();
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    }
}

}  // namespace
