#include "sim/sim_agent.h"

#include <gtest/gtest.h>

#include "link/commands.h"
#include "link/crc16.h"
#include "support/sim_frames.h"

namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;

const std::uint8_t kUnlock = kCommandCodes[CMD_UNLOCK];
const std::uint8_t kClose = kCommandCodes[CMD_CLOSE];
const std::uint8_t kGo = kCommandCodes[CMD_GO];
const std::uint8_t kEndImage = kCommandCodes[CMD_END_IMAGE];
const std::uint8_t kFsFormat = kCommandCodes[CMD_FS_FORMAT];
const std::uint8_t kFsInit = kCommandCodes[CMD_FS_INIT];
const std::uint8_t kInitPbl = kCommandCodes[CMD_INIT_PBL];
const std::uint8_t kInitAmss = kCommandCodes[CMD_INIT_AMSS];
const std::uint8_t kEraseAll = kCommandCodes[CMD_ERASE_ALL_NAND];
const std::uint8_t kEraseExceptBackup = kCommandCodes[CMD_ERASE_NAND_EXCEPT_BACKUP];
const std::uint8_t kSecurity = kCommandCodes[CMD_SECURITY_MODE];

// Plays the station: numbers the requests 0..3 as it does and hands them to the agent.
class Station {
public:
    explicit Station(SimOptions options = {}) : agent(std::move(options)) {}

    SimBytes Send(const SimBytes& body) {
        return agent.OnBytes(SimRequestWire(static_cast<std::uint8_t>(sent++ & 3), body));
    }
    // Sends and expects an acknowledge under the request's sequence number.
    void Accepted(const SimBytes& body) {
        const auto seq = static_cast<std::uint8_t>(sent & 3);
        EXPECT_EQ(Send(body), SimAckWire(seq)) << "request code " << int(body[0]);
    }
    void Refused(const SimBytes& body, std::uint8_t reason = 2) {
        const auto seq = static_cast<std::uint8_t>(sent & 3);
        EXPECT_EQ(Send(body), SimNakWire(seq, reason)) << "request code " << int(body[0]);
    }
    void Open() {
        Accepted(SimBodyCode(kUnlock));
        Accepted(SimBodyVersion(DOWNLOADER_VERSION));
    }

    SimAgent agent;
    int sent = 0;
};

// ---- Session: unlock, version, close, go ----

TEST(SimAgentSession, UnlockAndVersionAreAcknowledgedToTheByte) {
    SimAgent agent;
    const SimBytes unlock = {0x7E, 0x01, 0xA0, 0x72, 0x55, 0x7E};
    EXPECT_EQ(agent.OnBytes(unlock), (SimBytes{0x7E, 0x01, 0x02, 0x00, 0x00, 0x74, 0x73, 0x7E}));
    const SimBytes version = {0x7E, 0x02, 0x69, 0x20, 0x01, 0x00, 0x00, 0x2F, 0xEA, 0x7E};
    EXPECT_EQ(agent.OnBytes(version), (SimBytes{0x7E, 0x02, 0x02, 0x00, 0x00, 0x74, 0x73, 0x7E}));
}

TEST(SimAgentSession, AnyOtherVersionIsRefusedWithReasonTwo) {
    Station st;
    st.Accepted(SimBodyCode(kUnlock));
    EXPECT_EQ(st.Send(SimBodyVersion(0x121)),
              (SimBytes{0x7E, 0x01, 0x03, 0x00, 0x02, 0xBA, 0x0A, 0x7E}));
    st.Refused(SimBodyVersion(0x11F));
    // Still locked out of the flash, and a later right version is taken.
    st.Refused(SimBodyArea(kInitAmss));
    st.Accepted(SimBodyVersion(DOWNLOADER_VERSION));
    st.Accepted(SimBodyArea(kInitAmss));
}

TEST(SimAgentSession, NothingButUnlockAndCloseIsTakenBeforeTheSessionIsOpen) {
    Station st;
    st.Refused(SimBodyVersion(DOWNLOADER_VERSION));  // before UNLOCK
    st.Refused(SimBodyArea(kInitPbl));
    st.Refused(SimBodyCode(kGo));
    st.Accepted(SimBodyCode(kClose));
    st.Accepted(SimBodyCode(kUnlock));
    // Unlocked, but no version yet.
    st.Refused(SimBodyArea(kInitPbl));
    st.Refused(SimBodyCode(kFsFormat));
    st.Refused(SimBodyCode(kEndImage));
    st.Refused(SimBodyArea(kSecurity));
    EXPECT_FALSE(st.agent.Started());
}

TEST(SimAgentSession, CloseLeavesOnlyGoAndGoRebootsIntoALockedAgent) {
    Station st;
    st.Open();
    st.Accepted(SimBodyArea(kInitPbl));
    st.Accepted(SimBodyCode(kClose));
    st.Refused(SimBodyArea(kInitAmss));
    st.Accepted(SimBodyCode(kClose));  // the station may close twice
    EXPECT_FALSE(st.agent.Started());
    st.Accepted(SimBodyCode(kGo));
    EXPECT_TRUE(st.agent.Started());
    EXPECT_EQ(st.agent.GoCount(), 1);
    st.Refused(SimBodyArea(kInitAmss));
    st.Refused(SimBodyCode(kGo));
    st.Open();  // the next job finds it in download mode again
    st.Accepted(SimBodyArea(kInitAmss));
}

TEST(SimAgentSession, SecurityModeAndEndImageAreAcknowledged) {
    Station st;
    st.Open();
    st.Accepted(SimBodyArea(kSecurity));
    EXPECT_TRUE(st.agent.SecurityModeRequested());
    st.Accepted(SimBodyCode(kEndImage));
}

TEST(SimAgentSession, MalformedAndUnknownRequestsAreRefused) {
    Station st;
    st.Open();
    st.Accepted(SimBodyArea(kInitAmss));
    const SimBytes data = SimPattern(64, 1);
    st.Refused(SimBodyCode(0xBB));                     // no such request
    st.Refused(SimBytes{kInitPbl, 0, 0, 0, 0, 1});     // area body too short
    st.Refused(SimBytes{kInitPbl, 0, 0, 0, 0, 0, 0});  // area length 0
    st.Refused(SimBytes{kUnlock, 0});                  // UNLOCK with argument
    st.Refused(SimBodyErase(0, 0));                    // empty erase
    SimBytes write = SimBodyWrite(0, data);
    write[7] = 0xCC;  // no repeated DD
    st.Refused(write);
    write = SimBodyWrite(0, data);
    write.pop_back();  // one byte short
    st.Refused(write);
    st.Refused(SimBodyWrite(0, SimBytes(kBlockSize + 1, 0x11)));  // over a block
    st.Refused(SimBodyWrite(0, SimBytes{}));                      // no data
    // None of them stored anything.
    const SimSpace* amss = st.agent.Flash().Find(kInitAmss);
    EXPECT_TRUE(amss == nullptr || amss->Empty());
    st.Accepted(SimBodyWrite(0, SimBytes(kBlockSize, 0x11)));  // a full block is fine
}

TEST(SimAgentSession, ABadCrcAsksForTheFrameAgainUnderItsSequenceNumber) {
    Station st;
    EXPECT_EQ(st.agent.OnBytes(SimBadCrcWire(2, SimBodyCode(kUnlock))),
              (SimBytes{0x7E, 0x02, 0x03, 0x00, 0x01, 0x21, 0x38, 0x7E}));
    // A sequence byte above 3 is answered with its low two bits.
    EXPECT_EQ(st.agent.OnBytes(SimBadCrcWire(6, SimBodyCode(kUnlock))), SimNakWire(2, 1));
    EXPECT_EQ(st.agent.OnBytes(SimRequestWire(7, SimBodyCode(kUnlock))), SimAckWire(3));
    // Frames too short to hold a code are bad frames too.
    EXPECT_EQ(st.agent.OnBytes(SimBytes{0x7E, 0x01, 0x7E}), SimNakWire(1, 1));
    EXPECT_EQ(st.agent.OnBytes(SimBytes{0x7E, 0x01, 0x00, 0x00, 0x7E}), SimNakWire(1, 1));

    const auto& log = st.agent.Requests();
    ASSERT_EQ(log.size(), 5u);
    EXPECT_FALSE(log[0].crcOk);
    EXPECT_EQ(log[0].code, -1);
    EXPECT_EQ(log[0].reply, SimReply::NakResend);
    EXPECT_EQ(log[1].seq, 6);
    EXPECT_TRUE(log[2].crcOk);
    EXPECT_EQ(log[2].seq, 7);
    EXPECT_EQ(log[2].code, kUnlock);
}

TEST(SimAgentSession, FramesSplitAnywhereOrBackToBackGetOneReplyEach) {
    Station st;
    const SimBytes unlock = SimRequestWire(0, SimBodyCode(kUnlock));
    SimBytes replies;
    for (std::uint8_t b : unlock) {
        const SimBytes r = st.agent.OnBytes(std::span(&b, 1));
        replies.insert(replies.end(), r.begin(), r.end());
    }
    EXPECT_EQ(replies, SimAckWire(0));

    SimBytes three = SimRequestWire(1, SimBodyVersion(DOWNLOADER_VERSION));
    for (std::uint8_t seq : {2, 3}) {
        const SimBytes f = SimRequestWire(seq, SimBodyArea(kInitPbl));
        three.insert(three.end(), f.begin(), f.end());
    }
    SimBytes want = SimAckWire(1);
    for (std::uint8_t seq : {2, 3}) {
        const SimBytes a = SimAckWire(seq);
        want.insert(want.end(), a.begin(), a.end());
    }
    EXPECT_EQ(st.agent.OnBytes(three), want);
    // Runs of flags and noise between frames are harmless.
    SimBytes noisy = {0x7E, 0x7E, 0x7E};
    const SimBytes f = SimRequestWire(0, SimBodyCode(kEndImage));
    noisy.insert(noisy.end(), f.begin() + 1, f.end());
    noisy.insert(noisy.end(), {0x11, 0x13, 0x0D});
    EXPECT_EQ(st.agent.OnBytes(noisy), SimAckWire(0));
}

// ---- Flash ----

TEST(SimAgentFlash, WritesLandAtTheirAddressInTheSelectedAreaOnly) {
    Station st;
    st.Open();
    st.Accepted(SimBodyArea(kInitAmss));
    st.Accepted(SimBodyErase(0x18000, 0x8000));
    SimBytes block0 = SimPattern(kBlockSize, 7);
    block0[0] = 0x7E;  // stuffed on the wire, stored as it is
    block0[1] = 0x7D;
    const SimBytes block1 = SimPattern(kBlockSize, 8);
    st.Accepted(SimBodyWrite(0x18000, block0));
    st.Accepted(SimBodyWrite(0x1C000, block1));
    st.Accepted(SimBodyCode(kEndImage));

    EXPECT_EQ(st.agent.Flash().Read(kInitAmss, 0x18000, kBlockSize), block0);
    EXPECT_EQ(st.agent.Flash().Read(kInitAmss, 0x1C000, kBlockSize), block1);
    EXPECT_EQ(st.agent.Flash().Read(kInitAmss, 0x17FFF, 1), SimBytes{0xFF});
    EXPECT_EQ(st.agent.Flash().Read(kInitPbl, 0x18000, 4), SimBytes(4, 0xFF));

    const SimRequest& write = st.agent.Requests()[5];
    EXPECT_EQ(write.code, kCommandCodes[CMD_WRITE]);
    EXPECT_EQ(write.seq, 1);
    EXPECT_EQ(write.address, 0x1C000u);
    EXPECT_EQ(write.length, 16384u);
    EXPECT_EQ(write.dataSize, 16384u);
    EXPECT_EQ(write.reply, SimReply::Ack);
    const SimRequest& erase = st.agent.Requests()[3];
    EXPECT_EQ(erase.address, 0x18000u);
    EXPECT_EQ(erase.length, 0x8000u);
    EXPECT_EQ(st.agent.Requests()[1].version, 0x120u);
}

TEST(SimAgentFlash, EraseSetsItsRangeInTheSelectedAreaTo0xFF) {
    Station st;
    st.Open();
    st.Accepted(SimBodyArea(kInitPbl));
    st.Accepted(SimBodyWrite(0, SimBytes(kBlockSize, 0x00)));
    st.Accepted(SimBodyArea(kInitAmss));
    st.Accepted(SimBodyWrite(0, SimBytes(kBlockSize, 0x00)));
    st.Accepted(SimBodyErase(0x100, 0x100));
    const SimBytes amss = st.agent.Flash().Read(kInitAmss, 0xFF, 0x102);
    EXPECT_EQ(amss.front(), 0x00);
    EXPECT_EQ(SimBytes(amss.begin() + 1, amss.end() - 1), SimBytes(0x100, 0xFF));
    EXPECT_EQ(amss.back(), 0x00);
    EXPECT_EQ(st.agent.Flash().Read(kInitPbl, 0x100, 1), SimBytes{0x00});
}

TEST(SimAgentFlash, WritesNeedTheRightKindOfAreaSelected) {
    Station st;
    st.Open();
    const SimBytes data = SimPattern(100, 3);
    st.Refused(SimBodyWrite(0, data));  // nothing selected
    st.Refused(SimBodyFsWrite(0, data));
    st.Refused(SimBodyErase(0, kBlockSize));
    st.Accepted(SimBodyArea(kInitPbl));
    st.Refused(SimBodyFsWrite(0, data));  // a code area takes WRITE only
    st.Accepted(SimBodyCode(kFsFormat));
    st.Refused(SimBodyWrite(0, data));  // the file system takes FS_WRITE only
    st.Accepted(SimBodyFsWrite(0, data));
    EXPECT_EQ(st.agent.Flash().Read(kSimAreaFs, 0, 100), data);
}

TEST(SimAgentFlash, RangesPastTheAddressSpaceAreRefused) {
    Station st;
    st.Open();
    st.Accepted(SimBodyArea(kInitAmss));
    st.Refused(SimBodyWrite(0xFFFFF000, SimBytes(kBlockSize, 1)));
    st.Refused(SimBodyErase(0xFFFFC000, 0x8000));
    st.Accepted(SimBodyWrite(0xFFFFC000, SimBytes(kBlockSize, 1)));  // the very last block
    st.Accepted(SimBodyErase(0, 0xFFFFFFFF));
    EXPECT_EQ(st.agent.Flash().Read(kInitAmss, 0xFFFFC000, 1), SimBytes{0xFF});
}

TEST(SimAgentFlash, FsFormatClearsTheFileSystemAndFsInitKeepsIt) {
    Station st;
    const SimBytes data = SimPattern(5000, 4);
    st.Open();
    st.Accepted(SimBodyCode(kFsInit));  // none yet: an empty one is made
    EXPECT_TRUE(st.agent.Flash().FsExists());
    st.Accepted(SimBodyFsWrite(0x400, data));
    st.Accepted(SimBodyCode(kGo));

    st.Open();
    st.Accepted(SimBodyCode(kFsInit));
    EXPECT_EQ(st.agent.Flash().Read(kSimAreaFs, 0x400, data.size()), data);
    st.Accepted(SimBodyCode(kGo));

    st.Open();
    st.Accepted(SimBodyCode(kFsFormat));
    EXPECT_EQ(st.agent.Flash().Read(kSimAreaFs, 0x400, data.size()), SimBytes(data.size(), 0xFF));
}

TEST(SimAgentFlash, OnlyEraseAllNandErasesTheBackupArea) {
    Station st;
    const SimBytes calibration = SimPattern(300, 5);
    st.agent.Flash().Area(kSimAreaBackup).Write(0, calibration);
    st.Open();
    st.Accepted(SimBodyArea(kInitAmss));
    st.Accepted(SimBodyWrite(0, SimPattern(100, 6)));
    st.Accepted(SimBodyCode(kFsFormat));
    st.Accepted(SimBodyFsWrite(0, SimPattern(100, 6)));

    st.Accepted(SimBodyArea(kEraseExceptBackup));
    EXPECT_EQ(st.agent.Flash().Read(kInitAmss, 0, 100), SimBytes(100, 0xFF));
    EXPECT_EQ(st.agent.Flash().Read(kSimAreaFs, 0, 100), SimBytes(100, 0xFF));
    EXPECT_FALSE(st.agent.Flash().FsExists());
    EXPECT_EQ(st.agent.Flash().Read(kSimAreaBackup, 0, 300), calibration);

    st.Accepted(SimBodyArea(kEraseAll));
    EXPECT_EQ(st.agent.Flash().Read(kSimAreaBackup, 0, 300), SimBytes(300, 0xFF));
}

// ---- Faults ----

SimOptions WithFaults(std::string_view text) {
    SimOptions options;
    std::string error;
    EXPECT_TRUE(SIM_ParseFaults(text, options.faults, error)) << error;
    return options;
}

TEST(SimAgentFaults, NakResendRefusesOnlyTheChosenWriteAndTakesItsRepeat) {
    Station st(WithFaults("nak-resend:WRITE:2"));
    st.Open();
    st.Accepted(SimBodyArea(kInitAmss));
    const SimBytes b0 = SimPattern(kBlockSize, 10), b1 = SimPattern(kBlockSize, 11);
    st.Accepted(SimBodyWrite(0, b0));
    st.Refused(SimBodyWrite(0x4000, b1), 1);
    EXPECT_EQ(st.agent.Flash().Read(kInitAmss, 0x4000, 4), SimBytes(4, 0xFF));  // not written
    st.Accepted(SimBodyWrite(0x4000, b1));  // the same body under the next sequence number
    st.Accepted(SimBodyWrite(0x8000, b0));
    EXPECT_EQ(st.agent.Flash().Read(kInitAmss, 0x4000, kBlockSize), b1);
    EXPECT_EQ(st.agent.Requests()[4].reply, SimReply::NakResend);
    EXPECT_EQ(st.agent.Requests()[4].address, 0x4000u);  // logged although not carried out
}

TEST(SimAgentFaults, RefuseAnswersReasonTwoAndCarriesNothingOut) {
    Station st(WithFaults("refuse:INIT_PBL:1"));
    st.Open();
    st.Refused(SimBodyArea(kInitPbl));
    st.Refused(SimBodyWrite(0, SimPattern(10, 1)));  // no area was selected
    st.Accepted(SimBodyArea(kInitPbl));              // the second one is fine
    EXPECT_EQ(st.agent.Requests()[2].reply, SimReply::NakRefused);
}

TEST(SimAgentFaults, CorruptCrcCarriesOutButSpoilsTheReplyCrc) {
    Station st(WithFaults("corrupt-crc:WRITE:1"));
    st.Open();
    st.Accepted(SimBodyArea(kInitAmss));
    const SimBytes data = SimPattern(50, 2);
    const std::vector<SimBytes> replies = SimReplyFrames(st.Send(SimBodyWrite(0, data)));
    ASSERT_EQ(replies.size(), 1u);
    ASSERT_EQ(replies[0].size(), 6u);
    EXPECT_EQ(replies[0][0], 3);  // the WRITE's sequence number
    EXPECT_EQ(replies[0][1], 0x02);
    EXPECT_FALSE(CRC16_Check(replies[0], 1, 5));
    EXPECT_EQ(st.agent.Flash().Read(kInitAmss, 0, 50), data);
    st.Accepted(SimBodyWrite(0x100, data));
}

TEST(SimAgentFaults, DropCarriesOutAndSendsNoReply) {
    Station st(WithFaults("drop:any:3"));
    st.Open();
    EXPECT_TRUE(st.Send(SimBodyArea(kInitAmss)).empty());
    EXPECT_EQ(st.agent.Requests().back().reply, SimReply::Dropped);
    st.Accepted(SimBodyWrite(0, SimPattern(20, 1)));  // the selection did happen
}

TEST(SimAgentFaults, GarbageComesBeforeTheReplyAndHoldsNoFlag) {
    Station st(WithFaults("garbage:any:every:10"));
    const SimBytes got = st.Send(SimBodyCode(kUnlock));
    ASSERT_EQ(got.size(), 10u + SimAckWire(0).size());
    for (std::size_t i = 0; i < 10; ++i) EXPECT_NE(got[i], 0x7E);
    EXPECT_EQ(SimBytes(got.begin() + 10, got.end()), SimAckWire(0));
    EXPECT_EQ(SimReplyFrames(got).size(), 1u);
}

TEST(SimAgentFaults, SilentFromTheStartAnswersNothingAtAll) {
    Station st(WithFaults("silent"));
    EXPECT_TRUE(st.Send(SimBodyCode(kUnlock)).empty());
    EXPECT_TRUE(st.agent.OnBytes(SimBadCrcWire(1, SimBodyCode(kUnlock))).empty());
    EXPECT_EQ(st.agent.Requests().size(), 2u);
    EXPECT_EQ(st.agent.Requests()[0].reply, SimReply::Silent);
}

TEST(SimAgentFaults, SilentFromTheFirstWriteOnwardCarriesNothingOut) {
    Station st(WithFaults("silent:WRITE:1"));
    st.Open();
    st.Accepted(SimBodyArea(kInitAmss));
    EXPECT_TRUE(st.Send(SimBodyWrite(0, SimPattern(10, 1))).empty());
    EXPECT_TRUE(st.Send(SimBodyCode(kClose)).empty());
    EXPECT_TRUE(st.Send(SimBodyCode(kGo)).empty());
    EXPECT_TRUE(st.agent.Silent());
    EXPECT_FALSE(st.agent.Started());
    EXPECT_EQ(st.agent.Flash().Read(kInitAmss, 0, 1), SimBytes{0xFF});
    EXPECT_EQ(st.agent.Requests()[3].reply, SimReply::Silent);
    EXPECT_EQ(st.agent.Requests()[3].dataSize, 10u);
}

TEST(SimAgentFaults, LatencyHoldsBackOnlyTheChosenReply) {
    SimOptions options = WithFaults("latency:WRITE:2:50ms");
    options.replyLatency = microseconds(300);
    options.programLatencyPerBlock = microseconds(2000);
    options.eraseLatencyPerBlock = microseconds(1000);
    options.eraseLatencyPerRequest = microseconds(500);
    SimAgent agent(options);
    std::vector<SimOutput> out;
    int seq = 0;
    auto feed = [&](const SimBytes& body) {
        agent.Feed(SimRequestWire(static_cast<std::uint8_t>(seq++ & 3), body), out);
    };
    feed(SimBodyCode(kUnlock));
    feed(SimBodyVersion(DOWNLOADER_VERSION));
    feed(SimBodyArea(kInitAmss));
    feed(SimBodyErase(0, 3 * kBlockSize - 1));
    feed(SimBodyWrite(0, SimPattern(100, 1)));
    feed(SimBodyWrite(0x4000, SimPattern(100, 1)));
    feed(SimBodyArea(kEraseAll));
    ASSERT_EQ(out.size(), 7u);
    EXPECT_EQ(out[0].delay, microseconds(300));
    EXPECT_EQ(out[3].delay, microseconds(300 + 500 + 3 * 1000));  // three blocks erased
    EXPECT_EQ(out[4].delay, microseconds(300 + 2000));
    EXPECT_EQ(out[5].delay, microseconds(300 + 2000 + 50000));
    EXPECT_EQ(out[6].delay, microseconds(300 + 500));
    for (const SimOutput& o : out) EXPECT_EQ(SimReplyFrames(o.bytes).size(), 1u);
}

TEST(SimAgentFaults, UnplugAtTheChosenWriteEndsTheLine) {
    Station st(WithFaults("unplug:WRITE:2"));
    st.Open();
    st.Accepted(SimBodyArea(kInitAmss));
    st.Accepted(SimBodyWrite(0, SimPattern(10, 1)));
    std::vector<SimOutput> out;
    SimBytes two = SimRequestWire(0, SimBodyWrite(0x4000, SimPattern(10, 2)));
    const SimBytes three = SimRequestWire(1, SimBodyWrite(0x8000, SimPattern(10, 3)));
    two.insert(two.end(), three.begin(), three.end());
    st.agent.Feed(two, out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_TRUE(out[0].unplug);
    EXPECT_TRUE(out[0].bytes.empty());
    EXPECT_TRUE(st.agent.Unplugged());
    EXPECT_EQ(st.agent.Requests().back().reply, SimReply::Unplugged);
    EXPECT_TRUE(st.Send(SimBodyCode(kUnlock)).empty());
    EXPECT_EQ(st.agent.Flash().Read(kInitAmss, 0x4000, 1), SimBytes{0xFF});
}

TEST(SimAgentFaults, OrdinalsCountRefusedRequestsButNotBadFrames) {
    // The second WRITE by count is the one refused, even when the first was refused by state.
    Station st(WithFaults("refuse:WRITE:2"));
    st.Open();
    st.Refused(SimBodyWrite(0, SimPattern(10, 1)));  // no area: refused, counted as #1
    st.Accepted(SimBodyArea(kInitAmss));
    EXPECT_EQ(st.agent.OnBytes(SimBadCrcWire(0, SimBodyWrite(0, SimPattern(10, 1)))),
              SimNakWire(0, 1));
    st.sent = 0;
    st.Refused(SimBodyWrite(0, SimPattern(10, 1)));   // #2
    st.Accepted(SimBodyWrite(0, SimPattern(10, 1)));  // #3
}

}  // namespace
