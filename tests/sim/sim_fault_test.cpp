#include "sim/sim_fault.h"

#include <gtest/gtest.h>

#include "sim/sim_agent.h"
#include "support/sim_frames.h"

namespace {

using std::chrono::microseconds;

SimFault Parse(std::string_view text) {
    SimFault fault;
    std::string error;
    EXPECT_EQ(SIM_ParseFault(text, fault, error), 1) << text << ": " << error;
    return fault;
}

std::string ErrorOf(std::string_view text) {
    SimFault fault;
    std::string error;
    EXPECT_EQ(SIM_ParseFault(text, fault, error), 0) << text;
    return error;
}

TEST(SimFaultText, TheUsualFormsParse) {
    SimFault f = Parse("nak-resend:WRITE:40");
    EXPECT_EQ(f.kind, SimFaultKind::NakResend);
    EXPECT_EQ(f.code, 0xDD);
    EXPECT_EQ(f.ordinal, 40);

    f = Parse("refuse:INIT_PBL:1");
    EXPECT_EQ(f.kind, SimFaultKind::Refuse);
    EXPECT_EQ(f.code, 0x71);
    EXPECT_EQ(f.ordinal, 1);

    f = Parse("silent");
    EXPECT_EQ(f.kind, SimFaultKind::Silent);
    EXPECT_EQ(f.code, kSimAnyCommand);
    EXPECT_EQ(f.ordinal, kSimEveryRequest);

    f = Parse("garbage:any:every");
    EXPECT_EQ(f.kind, SimFaultKind::Garbage);
    EXPECT_EQ(f.garbageBytes, kSimDefaultGarbageBytes);

    f = Parse("latency:WRITE:10:50ms");
    EXPECT_EQ(f.kind, SimFaultKind::Latency);
    EXPECT_EQ(f.ordinal, 10);
    EXPECT_EQ(f.latency, microseconds(50000));

    f = Parse("unplug:write:30");  // names in any case
    EXPECT_EQ(f.kind, SimFaultKind::Unplug);
    EXPECT_EQ(f.code, 0xDD);

    f = Parse("corrupt-crc:0xee:3");
    EXPECT_EQ(f.kind, SimFaultKind::CorruptCrc);
    EXPECT_EQ(f.code, 0xEE);

    f = Parse(" drop : ERASE_NAND_EXCEPT_BACKUP ");
    EXPECT_EQ(f.kind, SimFaultKind::Drop);
    EXPECT_EQ(f.code, 0x7A);
    EXPECT_EQ(f.ordinal, kSimEveryRequest);

    EXPECT_EQ(Parse("garbage:GO:1:200").garbageBytes, 200);
}

TEST(SimFaultText, BadInputIsRefusedWithAReason) {
    EXPECT_NE(ErrorOf("melt:WRITE:1").find("unknown fault"), std::string::npos);
    EXPECT_NE(ErrorOf("refuse:WRTIE:1").find("unknown command 'WRTIE'"), std::string::npos);
    EXPECT_NE(ErrorOf("refuse:0x1FF").find("unknown command"), std::string::npos);
    EXPECT_NE(ErrorOf("refuse:WRITE:0").find("bad request number"), std::string::npos);
    EXPECT_NE(ErrorOf("refuse:WRITE:-3").find("bad request number"), std::string::npos);
    EXPECT_NE(ErrorOf("refuse:WRITE:x").find("bad request number"), std::string::npos);
    EXPECT_NE(ErrorOf("latency:WRITE:10").find("needs a duration"), std::string::npos);
    EXPECT_NE(ErrorOf("latency:WRITE:10:fast").find("bad duration"), std::string::npos);
    EXPECT_NE(ErrorOf("latency:WRITE:10:5h").find("bad duration"), std::string::npos);
    EXPECT_NE(ErrorOf("drop:WRITE:1:5").find("takes no value"), std::string::npos);
    EXPECT_NE(ErrorOf("garbage:any:1:0").find("garbage byte count"), std::string::npos);
    EXPECT_NE(ErrorOf("drop:WRITE:1:2:3").find("too many"), std::string::npos);
    EXPECT_FALSE(ErrorOf("").empty());
}

TEST(SimFaultText, ListsAppendAllOrNothing) {
    std::vector<SimFault> faults;
    std::string error;
    ASSERT_EQ(SIM_ParseFaults("drop:WRITE:5, latency:any:every:2s", faults, error), 1) << error;
    ASSERT_EQ(faults.size(), 2u);
    EXPECT_EQ(faults[1].latency, microseconds(2000000));
    EXPECT_EQ(SIM_ParseFaults("drop:WRITE:5,,silent", faults, error), 0);
    EXPECT_EQ(SIM_ParseFaults("drop:WRITE:5,nope", faults, error), 0);
    EXPECT_EQ(faults.size(), 2u);
}

TEST(SimFaultText, TextFormParsesBackToTheSameFault) {
    for (const char* text : {"nak-resend:WRITE:40", "latency:any:every:1500us", "garbage:GO:2:9",
                             "silent", "unplug:0xBB:1", "corrupt-crc:FS_WRITE"}) {
        const SimFault f = Parse(text);
        const SimFault again = Parse(SIM_FaultText(f));
        EXPECT_EQ(again.kind, f.kind) << text;
        EXPECT_EQ(again.code, f.code) << text;
        EXPECT_EQ(again.ordinal, f.ordinal) << text;
        EXPECT_EQ(again.latency, f.latency) << text;
        EXPECT_EQ(again.garbageBytes, f.garbageBytes) << text;
    }
    EXPECT_EQ(SIM_FaultText(Parse("nak-resend:write:40")), "nak-resend:WRITE:40");
}

TEST(SimFaultText, DurationsTakeTheirUnits) {
    microseconds d{};
    ASSERT_EQ(SIM_ParseDuration("50ms", d), 1);
    EXPECT_EQ(d, microseconds(50000));
    ASSERT_EQ(SIM_ParseDuration("1.5s", d), 1);
    EXPECT_EQ(d, microseconds(1500000));
    ASSERT_EQ(SIM_ParseDuration("250us", d), 1);
    EXPECT_EQ(d, microseconds(250));
    ASSERT_EQ(SIM_ParseDuration("20", d), 1);
    EXPECT_EQ(d, microseconds(20000));
    EXPECT_EQ(SIM_ParseDuration("ms", d), 0);
    EXPECT_EQ(SIM_ParseDuration("5 min", d), 0);
}

TEST(SimFaultMatch, OrdinalsAreCountedPerCommandOrOverAll) {
    const SimFault write2 = Parse("drop:WRITE:2");
    EXPECT_FALSE(write2.Matches(0xDD, 1, 7));
    EXPECT_TRUE(write2.Matches(0xDD, 2, 8));
    EXPECT_FALSE(write2.Matches(0xCC, 2, 9));
    const SimFault any3 = Parse("drop:any:3");
    EXPECT_TRUE(any3.Matches(0xCC, 1, 3));
    EXPECT_FALSE(any3.Matches(0xCC, 3, 4));
    EXPECT_TRUE(Parse("drop:GO").Matches(0x0A, 17, 99));
}

}  // namespace

namespace {

// A session up to the point where requests are carried out, then the given frames; returns the
// log of those frames.
std::vector<SimRequest> Exchange(const char* faults, const std::vector<SimBytes>& bodies) {
    SimOptions options;
    std::string error;
    EXPECT_EQ(SIM_ParseFaults(faults, options.faults, error), 1) << error;
    SimAgent agent(options);
    std::uint8_t seq = 0;
    for (const SimBytes& body : {SimBodyCode(0xA0), SimBodyVersion(0x120), SimBodyArea(0x77)}) {
        agent.OnBytes(SimRequestWire(seq++ & 3, body));
    }
    for (const SimBytes& body : bodies) agent.OnBytes(SimRequestWire(seq++ & 3, body));
    const auto& log = agent.Requests();
    return std::vector<SimRequest>(log.begin() + 3, log.end());
}

}  // namespace

TEST(SimFaultEffect, AskedForAgainNTimesInARowAndAnsweredUnderAWrongNumber) {
    EXPECT_EQ(Parse("nak-resend:CLOSE:1:3").times, 3);
    EXPECT_NE(ErrorOf("nak-resend:CLOSE:1:0").find("times in a row"), std::string::npos);
    EXPECT_EQ(SIM_FaultText(Parse("nak-resend:WRITE:2:4")), "nak-resend:WRITE:2:4");
    EXPECT_EQ(Parse("wrong-seq:END_IMAGE:1").kind, SimFaultKind::WrongSeq);

    // The second block asked for three times in a row; the other block in between is not.
    const SimBytes a = SimBodyWrite(0, SimPattern(16, 1));
    const SimBytes b = SimBodyWrite(0x4000, SimPattern(16, 2));
    std::vector<SimReply> replies;
    for (const SimRequest& r : Exchange("nak-resend:WRITE:2:3", {a, b, a, b, b, b}))
        replies.push_back(r.reply);
    EXPECT_EQ(replies,
              (std::vector<SimReply>{SimReply::Ack, SimReply::NakResend, SimReply::Ack,
                                     SimReply::NakResend, SimReply::NakResend, SimReply::Ack}));

    // Carried out, answered under the next number.
    const auto log = Exchange("wrong-seq:END_IMAGE:1", {SimBodyCode(0x78)});
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].reply, SimReply::WrongSeq);
    EXPECT_EQ(log[0].replySeq, (log[0].seq + 1) & 3);
}
