// The answers `pelor results` gives, from a known set of records.
#include "results/summary.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "results_fixtures.h"

using results_test::Job;

namespace {
constexpr std::int64_t kDay1 = 1796668301000LL;  // 2026-12-07T...Z
constexpr std::int64_t kHour = 3600000;
}  // namespace

TEST(ResultsSummary, PerDayStationCausesSocketsAndMedians) {
    std::vector<JobRecord> jobs;
    // Day 1 on bench-3: four jobs, channel 2 fails twice (once with a known step and reason).
    jobs.push_back(Job(0, true, kDay1, 40));
    jobs.push_back(Job(1, true, kDay1, 60));
    jobs.push_back(Job(2, false, kDay1, 5));
    JobRecord open = Job(2, false, kDay1 + 3 * kHour, 1);
    open.failStep = "open";
    open.failReason = "permission denied";
    jobs.push_back(open);
    // Day 2 on bench-4: one job done and one failed like day 1's.
    jobs.push_back(Job(0, true, kDay1 + 24 * kHour, 50, "bench-4"));
    jobs.push_back(Job(5, false, kDay1 + 24 * kHour, 3, "bench-4"));

    const ResultsSummary s = RESULTS_Summarise(jobs);
    EXPECT_EQ(s.jobs, 6);
    EXPECT_EQ(s.failures, 3);
    ASSERT_EQ(s.days.size(), 2u);
    EXPECT_EQ(s.days[0].day, "2026-12-07");
    EXPECT_EQ(s.days[0].station, "bench-3");
    EXPECT_EQ(s.days[0].jobs, 4);
    EXPECT_EQ(s.days[0].failures, 2);
    EXPECT_EQ(s.days[1].station, "bench-4");
    EXPECT_DOUBLE_EQ(RESULTS_Yield(s.days[0].jobs, s.days[0].failures), 50.0);

    // Unknown steps are grouped by the bar's last text; the most frequent comes first.
    ASSERT_EQ(s.causes.size(), 2u);
    EXPECT_EQ(s.causes[0].count, 2);
    EXPECT_EQ(s.causes[0].step, "");
    EXPECT_EQ(s.causes[0].reason, "ERR: Unlock");
    EXPECT_EQ(s.causes[1].step, "open");
    EXPECT_EQ(s.causes[1].reason, "permission denied");

    // Sockets: bench-3's channel 2 is the bad one.
    ASSERT_EQ(s.sockets.size(), 5u);
    EXPECT_EQ(s.sockets[2].station, "bench-3");
    EXPECT_EQ(s.sockets[2].channel, 2);
    EXPECT_EQ(s.sockets[2].jobs, 2);
    EXPECT_EQ(s.sockets[2].failures, 2);

    // Medians over the jobs that finished: 40, 50, 60 s; 4194604 bytes each.
    EXPECT_DOUBLE_EQ(s.medianSeconds, 50);
    EXPECT_DOUBLE_EQ(s.medianBytesPerSecond, 4194604.0 / 50);

    // Every hour from the first to the last, the idle ones too.
    ASSERT_EQ(s.hours.size(), 25u);
    EXPECT_EQ(s.hours[0].jobs, 3);
    EXPECT_EQ(s.hours[1].jobs, 0);
    EXPECT_EQ(s.hours[3].failures, 1);
    EXPECT_EQ(s.hours[24].jobs, 2);
    EXPECT_EQ(s.hours[0].hour.substr(13), ":00Z");

    const auto j = nlohmann::json::parse(RESULTS_SummaryJson(s));
    EXPECT_EQ(j["jobs"], 6);
    EXPECT_DOUBLE_EQ(j["yield"].get<double>(), 50.0);
    EXPECT_EQ(j["failures_by_cause"][1]["reason"], "permission denied");
    EXPECT_EQ(j["sockets"].size(), 5u);

    const std::string text = RESULTS_SummaryText(s);
    EXPECT_NE(text.find("Jobs 6, failed 3, yield 50.0%"), std::string::npos) << text;
    EXPECT_NE(text.find("permission denied"), std::string::npos);
}

TEST(ResultsSummary, NoJobsIsSaidPlainly) {
    const ResultsSummary s = RESULTS_Summarise({});
    EXPECT_EQ(s.jobs, 0);
    EXPECT_TRUE(s.hours.empty());
    EXPECT_EQ(RESULTS_SummaryText(s), "No jobs on record.\n");
    EXPECT_DOUBLE_EQ(RESULTS_Yield(0, 0), 0);
}

TEST(ResultsSummary, CsvHasOneLinePerJobAndQuotesWhatNeedsIt) {
    JobRecord r = Job(4, false);
    r.lastText = "ERR: [3,\"x\"]";
    const std::string csv = RESULTS_RecordsCsv({Job(0, true), r});
    std::vector<std::string> lines;
    for (std::size_t at = 0, nl; (nl = csv.find("\r\n", at)) != std::string::npos; at = nl + 2) {
        lines.push_back(csv.substr(at, nl - at));
    }
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].rfind("job_id,station,channel,", 0), 0u);
    EXPECT_NE(lines[2].find(",\"ERR: [3,\"\"x\"\"]\","), std::string::npos) << lines[2];
    EXPECT_NE(lines[1].find("WZRTAll.mbn:4194304:" + std::string(64, 'b')), std::string::npos);
}
