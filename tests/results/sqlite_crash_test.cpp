// A station that dies between two jobs (killed, no clean close) keeps the job that had ended.
#include <gtest/gtest.h>

#ifdef PELOR_HAVE_SQLITE
#ifdef _WIN32
#include <process.h>
#include <windows.h>

#include <cstdlib>
#else
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#endif

#include "results/recorder.h"
#include "results/sqlite_store.h"
#include "results_fixtures.h"
#include "sqlite_fixtures.h"
#include "support/temp_dir.h"

using results_test::Job;
using results_test::LoadAll;
using results_test::LocalOnly;

#ifdef _WIN32
namespace {
constexpr const char* kCrashFileVariable = "PELOR_CRASH_RESULTS";
}  // namespace

TEST(ResultsSqlite, ACrashBetweenTwoJobsKeepsTheFirst) {
    TempDir dir;
    const std::string path = dir / "results.db";
    // The station is this program again, running only the case below, which kills itself.
    char exe[MAX_PATH] = {};
    ASSERT_GT(GetModuleFileNameA(nullptr, exe, MAX_PATH), 0u);
    const std::string quoted = std::string("\"") + exe + "\"";
    ASSERT_EQ(_putenv_s(kCrashFileVariable, path.c_str()), 0);
    const intptr_t status =
        _spawnl(_P_WAIT, exe, quoted.c_str(),
                "--gtest_filter=ResultsSqliteCrash.RecordOneJobAndDie", nullptr);
    _putenv_s(kCrashFileVariable, "");
    ASSERT_EQ(status, 9) << "the station did not die as it should";
    const std::vector<JobRecord> rows = LoadAll(path);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].channel, 0);
    EXPECT_EQ(rows[0].result, kResultDone);
}

// The station of the case above; skipped when run on its own.
TEST(ResultsSqliteCrash, RecordOneJobAndDie) {
    const char* path = std::getenv(kCrashFileVariable);
    if (path == nullptr || *path == '\0') GTEST_SKIP() << "the station of a crash case";
    ResultsRecorder recorder(LocalOnly(path));
    recorder.Record(Job(0, true));
    // It dies before the second job ends: no destructor, no clean close.
    TerminateProcess(GetCurrentProcess(), 9);
}
#else
TEST(ResultsSqlite, ACrashBetweenTwoJobsKeepsTheFirst) {
    TempDir dir;
    const std::string path = dir / "results.db";
    const JobRecord first = Job(0, true);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ResultsRecorder recorder(LocalOnly(path));
        recorder.Record(first);
        // The station dies before the second job ends: no destructor, no clean close.
        ::kill(::getpid(), SIGKILL);
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    const std::vector<JobRecord> rows = LoadAll(path);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0], first);
}
#endif
#endif  // PELOR_HAVE_SQLITE
