// The diagnostic trace: off unless a file is set, then one timestamped line per call.
#include "transport/trace.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "transport_test_util.h"

namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
#ifdef _WIN32
        if (!line.empty() && line.back() == '\r') line.pop_back();  // a text file: CRLF
#endif
        lines.push_back(line);
    }
    return lines;
}

const std::regex kStamped(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} (.*))");

TEST(Trace, WritesTimestampedLinesOnlyWhileOpen) {
    transport_test::TempDir dir;
    const std::string log = dir.File("trace.log");
    DBG_TraceClose();
    EXPECT_FALSE(DBG_TraceEnabled());
    DBG_Trace("before %d\n", 1);
    EXPECT_FALSE(std::filesystem::exists(log));

    ASSERT_EQ(DBG_TraceOpen(log), 1);
    EXPECT_TRUE(DBG_TraceEnabled());
    DBG_Trace("[Ch %d] SetCommState False\n", 3);
    DBG_Trace("no newline %s", "here");
    DBG_Trace("%s\n", std::string(2000, 'x').c_str());
    DBG_TraceClose();
    DBG_Trace("after\n");

    const std::vector<std::string> lines = Lines(transport_test::ReadWholeFile(log));
    ASSERT_EQ(lines.size(), 3u);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[0], m, kStamped)) << lines[0];
    EXPECT_EQ(m[1], "[Ch 3] SetCommState False");
    ASSERT_TRUE(std::regex_match(lines[1], m, kStamped));
    EXPECT_EQ(m[1], "no newline here");
    ASSERT_TRUE(std::regex_match(lines[2], m, kStamped));
    EXPECT_EQ(m[1], std::string(2000, 'x'));

    // Reopening appends.
    ASSERT_EQ(DBG_TraceOpen(log), 1);
    DBG_Trace("again\n");
    DBG_TraceClose();
    EXPECT_EQ(Lines(transport_test::ReadWholeFile(log)).size(), 4u);
}

TEST(Trace, UnwritableFileLeavesTheTraceOff) {
    EXPECT_EQ(DBG_TraceOpen("/nonexistent-dir/trace.log"), 0);
    EXPECT_FALSE(DBG_TraceEnabled());
    EXPECT_EQ(DBG_TraceOpen(""), 1);
    EXPECT_FALSE(DBG_TraceEnabled());
}

TEST(Trace, LinesFromManyThreadsStayWhole) {
    transport_test::TempDir dir;
    const std::string log = dir.File("trace.log");
    ASSERT_EQ(DBG_TraceOpen(log), 1);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i) DBG_Trace("[Ch %d] line %d of this channel\n", t, i);
        });
    }
    for (auto& thread : threads) thread.join();
    DBG_TraceClose();

    const std::vector<std::string> lines = Lines(transport_test::ReadWholeFile(log));
    ASSERT_EQ(lines.size(), 800u);
    const std::regex whole(
        R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[Ch \d\] line \d+ of this channel)");
    for (const std::string& line : lines) EXPECT_TRUE(std::regex_match(line, whole)) << line;
}

// The environment is read once, at the first use; a fresh process shows it.
TEST(TraceDeathTest, EnvironmentTurnsTheTraceOn) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // The child runs this body again from the start: it finds the variable already set.
    std::optional<transport_test::TempDir> dir;
    std::string log;
    if (const char* set = std::getenv("PELOR_TRACE")) {
        log = set;
    } else {
        dir.emplace();
        log = dir->File("env.log");
        ::setenv("PELOR_TRACE", log.c_str(), 1);
    }
    EXPECT_EXIT(
        {
            DBG_Trace("from the environment %d\n", 7);
            std::exit(DBG_TraceEnabled() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    ::unsetenv("PELOR_TRACE");
    const std::vector<std::string> lines = Lines(transport_test::ReadWholeFile(log));
    ASSERT_EQ(lines.size(), 1u);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[0], m, kStamped));
    EXPECT_EQ(m[1], "from the environment 7");
}

}  // namespace
