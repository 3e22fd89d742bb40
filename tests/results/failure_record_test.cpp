// A failed job goes on record with the step and reason its channel's outcome names, whatever
// the step; an open failure keeps the system's own words.
#include <gtest/gtest.h>

#include "link/outcome.h"
#include "results/recorder.h"
#include "results/run_recording.h"

namespace {

struct OutcomeGuard {
    ~OutcomeGuard() {
        for (int ch = 0; ch < kChannels; ++ch) OUTCOME_Clear(ch);
    }
};

}  // namespace

TEST(ResultsFailureRecord, StepAndReasonComeFromTheChannelsOutcome) {
    OutcomeGuard guard;
    ResultsConfig config;
    config.enabled = false;  // nothing is stored: only the rows are built
    ResultsRecorder recorder(config);
    std::array<std::string, kChannels> ports{};
    ports[0] = "/dev/ttyUSB0";
    ports[1] = "/dev/ttyUSB1";
    ports[2] = "/dev/ttyUSB2";
    RunRecording run(recorder, ports);

    for (int ch = 0; ch < kChannels; ++ch) OUTCOME_Clear(ch);
    OUTCOME_Record(0, JobStep::Block, JobReason::Refused, 3, "NAK 0x05");
    SerialOpenFailure open;
    open.code = 13;
    open.reason = "permission denied";
    OUTCOME_RecordOpen(1, open);

    const JobRecord block = run.Build(0, false, "ERR: [AMSS] 0x05");
    EXPECT_EQ(block.failStep, "block");
    EXPECT_EQ(block.failReason, "refused");
    const JobRecord refusedOpen = run.Build(1, false, "ERR: Open");
    EXPECT_EQ(refusedOpen.failStep, "open");
    EXPECT_EQ(refusedOpen.failReason, "permission denied");

    // A finished job names no failure, even with a stale outcome; a failure that recorded none
    // leaves both empty rather than guessing.
    const JobRecord done = run.Build(0, true, "Download Complete! [3 sec]");
    EXPECT_EQ(done.failStep, "");
    EXPECT_EQ(done.failReason, "");
    const JobRecord unknown = run.Build(2, false, "ERR: Open");
    EXPECT_EQ(unknown.failStep, "");
    EXPECT_EQ(unknown.failReason, "");
}
