// A socket going bad is flagged from the jobs a station records, and only then.
#include "results/suspect_sockets.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "results_fixtures.h"
#include "support/temp_dir.h"

namespace {

// A station's jobs in the order they ended, one token each: the socket's digit and what
// happened: G done, L a link failure (time-out), P the port gone, R a refusal, S stopped by the
// operator, F an image file unreadable, A the operator acknowledges the socket's flag.
struct Played {
    SocketWatch watch;
    std::vector<bool> changes;
};

Played Play(const std::string& script, SuspectRule rule = {}) {
    Played p{SocketWatch(rule), {}};
    std::istringstream in(script);
    std::int64_t t = 1796668301000LL;
    for (std::string token; in >> token;) {
        const int channel = token[0] - '0';
        const char what = token[1];
        if (what == 'A') {
            p.watch.Acknowledge(channel);
            continue;
        }
        SocketJob job;
        job.channel = channel;
        job.startMs = t;
        job.endMs = t + 30000;
        t += 1000;
        job.ok = what == 'G';
        if (what == 'L') job = {channel, job.startMs, job.endMs, false, "block", "time-out"};
        if (what == 'P') job = {channel, job.startMs, job.endMs, false, "block", "port gone"};
        if (what == 'R') job = {channel, job.startMs, job.endMs, false, "block", "refused"};
        if (what == 'S') job = {channel, job.startMs, job.endMs, false, "stopped", "interrupted"};
        if (what == 'F') job = {channel, job.startMs, job.endMs, false, "block", "file"};
        p.changes.push_back(p.watch.Add(job));
    }
    return p;
}

// Rounds of the three sockets 0, 1, 2; socket 2's outcome per round from its pattern.
std::string Rounds(const std::string& socket2) {
    std::string script;
    for (char c : socket2) script += std::string("0G 1G 2") + c + " ";
    return script;
}

// Rounds of good jobs on sockets 0 and 1 only.
std::string OthersGood(int rounds) {
    std::string script;
    for (int i = 0; i < rounds; ++i) script += "0G 1G ";
    return script;
}

}  // namespace

TEST(SuspectRule, FlagsASocketThatFailsMarkedlyMoreThanItsStationsOthers) {
    struct Case {
        const char* name;
        std::string script;
        bool suspect;                 // socket 2 at the end
        const char* badge = nullptr;  // socket 2's badge at the end, when given
    } cases[] = {
        {"three link failures of five", Rounds("GLGLL"), true},
        {"a port gone counts as a link failure", Rounds("PGPGP"), true},
        {"two link failures of five are within reason", Rounds("GLGGL"), false},
        {"refusals alone count half: five of five say the handsets, not the socket",
         Rounds("RRRRR"), false},
        {"two link failures and two refusals make three", Rounds("LRLRG"), true},
        {"not before the socket's minimum of jobs", Rounds("LLL"), false},
        {"the minimum reached with failures", Rounds("LLLLL"), true},
        {"jobs the operator stopped or a file failed say nothing of the socket", Rounds("GGSFSGG"),
         false},
        {"stops between failures are not counted at all", Rounds("LSLSLGG"), true},
        {"not when the others fail as much: the station's problem, not the socket's",
         "0L 1G 2L 0G 1L 2L 0L 1G 2G 0G 1L 2L 0L 1G 2L", false},
        {"not without others to compare with", "2L 2L 2L 2L 2L", false},
        {"recovery: three good jobs in a row clear the flag", Rounds("LLLGGG"), false},
        {"two good are not yet a run", Rounds("LLLGG"), true},
        {"a failure restarts the run of good jobs", Rounds("LLLGGLGG"), true},
        {"cleared, its old failures are forgotten: one more does not flag it again",
         Rounds("LLLGGGL"), false},
        {"acknowledged, the flag is gone", Rounds("LLLLL") + "2A", false},
        {"acknowledged, its earlier jobs no longer count", Rounds("LLLLL") + "2A " + Rounds("LL"),
         false},
        {"acknowledged, it is flagged again on new evidence",
         Rounds("LLLLL") + "2A " + Rounds("LLLGL"), true},
        {"its jobs forgotten (the others ran on long after), the badge still says why",
         Rounds("LLLLL") + OthersGood(2500), true, "SUSPECT: 5 of 5 failed (time-out 5)"},
        {"while its jobs are remembered, the badge tells its current ones", Rounds("LLLLLGL"), true,
         "SUSPECT: 4 of 5 failed (time-out 4)"},
    };
    for (const Case& c : cases) {
        const Played p = Play(c.script);
        EXPECT_EQ(p.watch.Suspect(2), c.suspect) << c.name;
        SuspectEvidence e;
        if (c.badge != nullptr && p.watch.Evidence(2, &e)) {
            EXPECT_EQ(RESULTS_SuspectBadge(e), c.badge) << c.name;
        }
        EXPECT_FALSE(p.watch.Suspect(0)) << c.name;
        EXPECT_FALSE(p.watch.Suspect(1)) << c.name;
    }
}

TEST(SuspectRule, TheEvidenceCountsItsJobsFailuresByReasonAndTheOthers) {
    const Played p = Play(Rounds("GLPGL"));
    SuspectEvidence e;
    ASSERT_TRUE(p.watch.Evidence(2, &e));
    EXPECT_EQ(e.jobs, 5);
    EXPECT_EQ(e.failures, 3);
    ASSERT_EQ(e.reasons.size(), 2u);
    EXPECT_EQ(e.reasons[0], (std::pair<std::string, int>{"time-out", 2}));
    EXPECT_EQ(e.reasons[1], (std::pair<std::string, int>{"port gone", 1}));
    EXPECT_EQ(e.othersJobs, 10);
    EXPECT_EQ(e.othersFailures, 0);
    EXPECT_EQ(RESULTS_SuspectBadge(e), "SUSPECT: 3 of 5 failed (time-out 2, port gone 1)");
    // The flag changed once, with the job that tipped it.
    int changes = 0;
    for (bool c : p.changes) changes += c;
    EXPECT_EQ(changes, 1);
    EXPECT_FALSE(p.watch.Evidence(0, &e));
}

TEST(SuspectRule, TheRecordsOfEachStationAreReplayedInTheOrderTheJobsEnded) {
    using results_test::Job;
    std::vector<JobRecord> records;
    std::int64_t t = 1796668301000LL;
    for (int round = 0; round < 6; ++round, t += 60000) {
        for (int ch = 0; ch < 3; ++ch) {
            // bench-3's socket 1 loses its port in every round but one; bench-4 is sound.
            JobRecord r = Job(ch, !(ch == 1 && round != 2), t + ch * 1000, 40);
            if (r.result == kResultFailed) {
                r.failStep = "block";
                r.failReason = "port gone";
            }
            records.push_back(r);
            records.push_back(Job(ch, true, t + ch * 1000, 40, "bench-4"));
        }
    }
    std::reverse(records.begin(), records.end());  // the order read does not matter
    const auto found = RESULTS_SuspectSockets(records, SuspectRule{});
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].station, "bench-3");
    ASSERT_EQ(found[0].sockets.size(), 1u);
    const SuspectEvidence& e = found[0].sockets[0];
    EXPECT_EQ(e.channel, 1);
    EXPECT_EQ(e.device, Job(1, true).device);
    EXPECT_EQ(RESULTS_DescribeSuspect(e).substr(0, 4), "ch1 ");
    EXPECT_NE(RESULTS_DescribeSuspect(e).find(": 4 of its last 5 jobs failed (port gone 4); the "
                                              "other sockets: 0 of "),
              std::string::npos)
        << RESULTS_DescribeSuspect(e);
}

TEST(SuspectRule, TheSettingsFileSetsTheRuleAndNonsenseKeepsTheDefaults) {
    TempDir dir;
    const std::string ini = dir / "pelorw.ini";
    std::ofstream(ini) << "[PELOR]\nSUSPECT_WINDOW=8\nSUSPECT_FAILURES=4\nSUSPECT_MIN_JOBS=6\n"
                          "SUSPECT_OTHERS_YIELD=95\nSUSPECT_REFUSAL_WEIGHT=101\n"
                          "SUSPECT_CLEAR_AFTER=0\n";
    const SuspectRule rule = RESULTS_SuspectRule(ini);
    EXPECT_EQ(rule.window, 8);
    EXPECT_EQ(rule.failures, 4);
    EXPECT_EQ(rule.minJobs, 6);
    EXPECT_EQ(rule.othersYield, 95);
    EXPECT_EQ(rule.refusalWeight, 50);  // more than a link failure: refused
    EXPECT_EQ(rule.clearAfter, 3);      // a flag nothing clears: refused
    // Refusals counted in full flag a socket that refuses every handset.
    SuspectRule full;
    full.refusalWeight = 100;
    EXPECT_TRUE(Play(Rounds("RRRGG"), full).watch.Suspect(2));
}
