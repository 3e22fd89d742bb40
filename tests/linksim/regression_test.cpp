// The link's simulation: schedules written by hand for the faults this station once had, and
// each seed that found a fault. A schedule holds when the oracle of simulation.h holds.
#include <gtest/gtest.h>

#include "link/outcome.h"
#include "schedule.h"
#include "simulation.h"
#include "work_dir.h"

namespace linksim {
namespace {

Schedule WithFaults(const char* list, Schedule s = {}) {
    s.images.amss = 8 * 16384 - 100;
    s.images.partition = 300;
    s.images.amssHeader = 1000;
    std::string error;
    EXPECT_EQ(SIM_ParseFaults(list, s.faults, error), 1) << error;
    return s;
}

Verdict RunHeld(const Schedule& s) {
    static WorkDir dir;
    const Verdict v = Run(s, dir.path(), true);
    EXPECT_TRUE(v.ok) << Describe(s) << "\n" << v.failure << "\n" << v.details;
    return v;
}

TEST(LinkSimulation, TwoBlocksAskedForAgainInSeparateReadsAreDoneAtEveryLatency) {
    for (const std::int64_t latency : {500, 5000, 50000}) {
        Schedule s = WithFaults("nak-resend:WRITE:4,nak-resend:WRITE:5");
        s.line.baud = 1382400;
        s.line.programUs = 500;
        s.line.latencyMaxUs = latency;
        s.line.stationReads = ReadCut::Small;
        const Verdict v = RunHeld(s);
        EXPECT_TRUE(v.done) << latency << " us: " << OUTCOME_Describe(v.outcome);
    }
}

TEST(LinkSimulation, CloseAskedForAgainIsDoneOnlyWhenItsOwnAcknowledgeArrives) {
    // GO goes out only once CLOSE is acknowledged; what becomes of GO then does not undo that.
    struct Case {
        const char* faults;
        bool done;
        JobReason reason;
    };
    for (const Case& c : {Case{"nak-resend:CLOSE:1:3", true, JobReason::None},
                          Case{"nak-resend:CLOSE:1,silent:CLOSE:2", false, JobReason::TimeOut},
                          Case{"nak-resend:CLOSE,silent:GO", false, JobReason::ResendLimit},
                          Case{"nak-resend:CLOSE:1,drop:GO", true, JobReason::None}}) {
        SCOPED_TRACE(c.faults);
        Schedule s = WithFaults(c.faults);
        s.recoverable = c.done;
        const Verdict v = RunHeld(s);
        EXPECT_EQ(v.done, c.done);
        EXPECT_EQ(v.outcome.reason, c.reason) << OUTCOME_Describe(v.outcome);
        if (!c.done) {
            EXPECT_EQ(v.outcome.step, JobStep::Close);
        }
    }
}

TEST(LinkSimulation, AStopOrUnplugInTheFinalGraceFailsTheChannelUntilCloseIsAcknowledged) {
    // The grace waits for the answers to CLOSE and GO; one of them comes late, and the operator
    // stops the channel (or the handset goes away) meanwhile.
    struct Case {
        const char* faults;
        bool stop;  // stop 100 ms before the late answer; else the faults unplug
        bool done;
        JobReason reason;
    };
    for (const Case& c : {Case{"latency:CLOSE:1:200ms", true, false, JobReason::Stopped},
                          Case{"latency:GO:1:200ms", true, true, JobReason::None},
                          Case{"unplug:CLOSE:1", false, false, JobReason::PortGone},
                          // A handset may restart, and leave its port, on GO.
                          Case{"unplug:GO:1", false, true, JobReason::None}}) {
        SCOPED_TRACE(c.faults);
        Schedule s = WithFaults(c.faults);
        s.recoverable = false;
        if (c.stop) {
            const Verdict late = RunHeld(s);
            ASSERT_TRUE(late.done);
            s.stopAtUs = late.virtualUs - 100000;
        }
        const Verdict v = RunHeld(s);
        EXPECT_EQ(v.done, c.done) << OUTCOME_Describe(v.outcome);
        EXPECT_EQ(v.outcome.reason, c.reason) << OUTCOME_Describe(v.outcome);
        if (!c.done) {
            EXPECT_EQ(v.outcome.step, JobStep::Close);
        }
    }
}

TEST(LinkSimulation, ASeedReplaysExactly) {
    for (std::uint64_t seed : {7u, 1234u}) {
        const Verdict a = RunHeld(Draw(seed));
        const Verdict b = RunHeld(Draw(seed));
        EXPECT_EQ(Describe(Draw(seed)), Describe(Draw(seed)));
        EXPECT_EQ(a.virtualUs, b.virtualUs) << seed;
        EXPECT_EQ(a.details, b.details) << seed;
    }
}

}  // namespace
}  // namespace linksim

namespace linksim {
namespace {

// Each seed below found a fault of the station; the schedule must hold (and end as said).
struct Found {
    std::uint64_t seed;
    const char* fault;
    bool done;
};

class FoundBySeed : public ::testing::TestWithParam<Found> {};

TEST_P(FoundBySeed, HoldsNow) {
    const Found f = GetParam();
    const Verdict v = RunHeld(Draw(f.seed));
    EXPECT_EQ(v.done, f.done) << f.fault << ": " << OUTCOME_Describe(v.outcome);
}

INSTANTIATE_TEST_SUITE_P(
    LinkSimulation, FoundBySeed,
    ::testing::Values(
        // The AMSS header's only block asked for again after INIT_AMSS went out: sent again, it
        // was written into the AMSS area, and the header area stayed empty; reported done.
        Found{1255, "a block sent again after the next image's selection", true},
        // GO answered "send again" past the resend limit: the handset never started; reported
        // done.
        Found{1241, "GO asked for again past the limit", false},
        // CLOSE asked for again, GO's answer spoilt on the line: the grace ended at the spoilt
        // answer before the acknowledge of the CLOSE sent again; a healthy handset was failed.
        Found{4177, "the grace ended at a spoilt answer to GO", true},
        // GO asked for again, and the port refused the resend: reported done, with the
        // handset never started.
        Found{36362, "GO asked for again could not be sent", false},
        // The handset left its port the moment GO arrived, before the station had read CLOSE's
        // acknowledge, and the port took it along: a healthy handset failed with "port gone".
        Found{4749, "CLOSE's acknowledge lost with the port GO took away", true},
        // CLOSE asked for again: GO went out before the CLOSE sent again, and GO's answer was
        // looked up under the frame sent again ahead of it.
        Found{72463, "GO ahead of the CLOSE sent again", false}),
    [](const auto& info) { return "Seed" + std::to_string(info.param.seed); });

}  // namespace
}  // namespace linksim
