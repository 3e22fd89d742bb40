// A station that dies between two jobs (killed, no clean close) keeps the job that had ended.
#include <gtest/gtest.h>

#ifdef PELOR_HAVE_SQLITE
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "results/recorder.h"
#include "results/sqlite_store.h"
#include "results_fixtures.h"
#include "sqlite_fixtures.h"
#include "support/temp_dir.h"

using results_test::Job;
using results_test::LoadAll;
using results_test::LocalOnly;

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
#endif  // PELOR_HAVE_SQLITE
