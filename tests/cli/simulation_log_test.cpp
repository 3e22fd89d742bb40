// The record `pelor simulate --log/--dump` leaves of each handset: its requests, and the ranges
// its flash was written in with their digests, following the area selections as the agent does.
#include "simulation_log.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "link/commands.h"
#include "sim/sim_agent.h"
#include "sim/sim_flash.h"
#include "support/sim_frames.h"

namespace {

const std::uint8_t kInitPbl = kCommandCodes[CMD_INIT_PBL];
const std::uint8_t kInitAmss = kCommandCodes[CMD_INIT_AMSS];

class Session {
public:
    void Send(const SimBytes& body) {
        agent.OnBytes(SimRequestWire(static_cast<std::uint8_t>(sent++ & 3), body));
    }
    void Open() {
        Send(SimBodyCode(kCommandCodes[CMD_UNLOCK]));
        Send(SimBodyVersion(DOWNLOADER_VERSION));
    }
    SimAreaReader Reader() const {
        return [this](std::uint8_t area, std::uint32_t address, std::size_t length) {
            return agent.Flash().Read(area, address, length);
        };
    }

    SimAgent agent;
    int sent = 0;
};

std::uint64_t Fnv(const SimBytes& bytes) {
    std::uint64_t h = 0xcbf29ce484222325ull;
    for (std::uint8_t b : bytes) h = (h ^ b) * 0x100000001b3ull;
    return h;
}

TEST(SimulationLog, WritesFollowTheSelectedAreaAndTouchingRangesMerge) {
    Session s;
    s.Open();
    const SimBytes pbl = SimPattern(3000, 1);
    const SimBytes amss = SimPattern(5000, 2);
    const SimBytes res = SimPattern(100, 3);
    s.Send(SimBodyArea(kInitPbl));
    s.Send(SimBodyWrite(0x100, pbl));
    s.Send(SimBodyArea(kInitAmss));
    s.Send(SimBodyWrite(0x18000, std::span(amss).first(4096)));
    s.Send(SimBodyWrite(0x18000 + 4096, std::span(amss).subspan(4096)));  // touches the first
    s.Send(SimBodyWrite(0x40000, std::span(amss).first(10)));             // a range of its own
    s.Send(SimBodyCode(kCommandCodes[CMD_FS_FORMAT]));
    s.Send(SimBodyFsWrite(0, res));
    // Refused (no area selected after CLOSE): carried nothing, so it adds no range.
    s.Send(SimBodyCode(kCommandCodes[CMD_CLOSE]));
    s.Send(SimBodyWrite(0x900000, res));

    const auto ranges = SIM_WrittenRanges(s.agent.Requests());
    ASSERT_EQ(ranges.size(), 4u);
    EXPECT_EQ(ranges[0].area, kInitPbl);
    EXPECT_EQ(ranges[0].address, 0x100u);
    EXPECT_EQ(ranges[0].length, 3000u);
    EXPECT_EQ(ranges[1].area, kInitAmss);
    EXPECT_EQ(ranges[1].address, 0x18000u);
    EXPECT_EQ(ranges[1].length, 5000u);
    EXPECT_EQ(ranges[2].address, 0x40000u);
    EXPECT_EQ(ranges[2].length, 10u);
    EXPECT_EQ(ranges[3].area, kSimAreaFs);
    EXPECT_EQ(ranges[3].length, 100u);

    EXPECT_EQ(SIM_RangeDigest(ranges[1], s.Reader()), Fnv(amss));
    EXPECT_EQ(SIM_RangeDigest(ranges[3], s.Reader()), Fnv(res));
    EXPECT_EQ(SIM_DumpName(2, ranges[1]), "handset2-INIT_AMSS-0x00018000.bin");
    EXPECT_EQ(SIM_DumpName(0, ranges[3]), "handset0-FS-0x00000000.bin");
}

TEST(SimulationLog, SectionListsEveryRequestTheGoCountAndTheDigests) {
    Session s;
    s.Open();
    const SimBytes pbl = SimPattern(64, 9);
    s.Send(SimBodyArea(kInitPbl));
    s.Send(SimBodyWrite(0, pbl));
    s.agent.OnBytes(SimBadCrcWire(0, SimBodyCode(kCommandCodes[CMD_GO])));
    s.Send(SimBodyCode(kCommandCodes[CMD_GO]));

    const std::string text = SIM_LogSection(3, s.agent.Requests(), s.agent.GoCount(), s.Reader());
    char digest[32];
    std::snprintf(digest, sizeof digest, "%016llx", static_cast<unsigned long long>(Fnv(pbl)));
    EXPECT_EQ(text,
              "handset 3\n"
              "request 1 UNLOCK seq=0 address=0x00000000 length=0 version=0x0 data=0 ack\n"
              "request 2 VERSION seq=1 address=0x00000000 length=0 version=0x120 data=0 ack\n"
              "request 3 INIT_PBL seq=2 address=0x00000000 length=1 version=0x0 data=0 ack\n"
              "request 4 WRITE seq=3 address=0x00000000 length=64 version=0x0 data=64 ack\n"
              "request 5 BAD_CRC seq=0 address=0x00000000 length=0 version=0x0 data=0 "
              "nak-resend\n"
              "request 6 GO seq=0 address=0x00000000 length=0 version=0x0 data=0 ack\n"
              "go 1\n"
              "written INIT_PBL address=0x00000000 length=64 fnv1a64=" +
                  std::string(digest) + "\n");
}

}  // namespace
