// Numbering, the transmit window, replies and resends, against a scripted handset.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "link/commands.h"
#include "link/flash_downloader.h"
#include "link/outcome.h"
#include "support/scripted_port.h"
#include "transport/serial_port.h"

using Bytes = std::vector<std::uint8_t>;

namespace {

constexpr int kCh = 4;

// A WRITE request with a one-byte payload, sent without waiting.
void SendWrite(std::uint32_t address, std::uint8_t value) {
    const Bytes data = {value};
    FLASH_DOWNLOADER_Write(kCh, address, 1, data);
}

std::uint8_t Seq(const Bytes& frame) {
    return frame[0];
}

}  // namespace

TEST(TransmitWindow, ThreeFramesGoOutAtOnceAndTheFourthWaitsForTheFirstAcknowledge) {
    ScriptedChannel ch(kCh);
    FLASH_DOWNLOADER_Reset(kCh);
    for (int i = 0; i < 3; ++i) SendWrite(0x4000 * i, static_cast<std::uint8_t>(i));
    EXPECT_EQ(ch.port().frames.size(), 3u);
    EXPECT_EQ(ch.port().readCalls, 0) << "the first three sends do not read the port";

    // The fourth: no reply yet, so it waits its 12000 passes and gives up unsent.
    SendWrite(0xC000, 3);
    EXPECT_EQ(ch.port().frames.size(), 3u);
    EXPECT_EQ(FN[kCh].sendFailed, 1);
    EXPECT_GE(ScriptedChannel::Passes(), kWindowPasses);
}

TEST(TransmitWindow, AnAcknowledgeForTheOldestFrameLetsTheNextOneGo) {
    ScriptedChannel ch(kCh);
    FLASH_DOWNLOADER_Reset(kCh);
    const int base = FN[kCh].sentCount;
    for (int i = 0; i < 3; ++i) SendWrite(0x4000 * i, static_cast<std::uint8_t>(i));
    ch.port().QueueReply(static_cast<std::uint8_t>(base & 3), 0x02);
    SendWrite(0xC000, 3);
    ASSERT_EQ(ch.port().frames.size(), 4u);
    EXPECT_EQ(Seq(ch.port().frames[3]), (base + 3) & 3);
    EXPECT_EQ(FN[kCh].sendFailed, 0);
}

TEST(TransmitWindow, SequenceNumbersRunOnAcrossResets) {
    ScriptedChannel ch(kCh);
    ch.AckEverything();
    FLASH_DOWNLOADER_Reset(kCh);
    ASSERT_EQ(FLASH_DOWNLOADER_EndImage(kCh), 1);
    ASSERT_EQ(FLASH_DOWNLOADER_EndImage(kCh), 1);
    FLASH_DOWNLOADER_Reset(kCh);
    ASSERT_EQ(FLASH_DOWNLOADER_EndImage(kCh), 1);
    ASSERT_EQ(ch.port().frames.size(), 3u);
    EXPECT_EQ(Seq(ch.port().frames[2]), (Seq(ch.port().frames[0]) + 2) & 3);
}

TEST(WaitAllAcked, ReturnsAtOnceWithNothingOutstandingEvenAfterAnError) {
    ScriptedChannel ch(kCh);
    FLASH_DOWNLOADER_Reset(kCh);
    FN[kCh].errorCount = 2;
    EXPECT_TRUE(FLASH_DOWNLOADER_WaitAllAcked(kCh, 50000));
    EXPECT_EQ(ch.port().readCalls, 0);
    EXPECT_EQ(ScriptedChannel::Passes(), 0);
}

TEST(WaitAllAcked, GivesUpAfterItsPassCountAndWhenTheChannelIsStopped) {
    ScriptedChannel ch(kCh);
    FLASH_DOWNLOADER_Reset(kCh);
    SendWrite(0, 1);
    EXPECT_FALSE(FLASH_DOWNLOADER_WaitAllAcked(kCh, 50000));
    EXPECT_EQ(ScriptedChannel::Passes(), 50000);

    g_bChannelActive[kCh] = 0;
    const long long before = ScriptedChannel::Passes();
    EXPECT_FALSE(FLASH_DOWNLOADER_WaitAllAcked(kCh, 50000));
    EXPECT_EQ(ScriptedChannel::Passes(), before) << "a stop is seen in the first pass";
}

// Every malformed or refusing reply fails the exchange and stays failed until the next reset.
struct BadReply {
    const char* name;
    Bytes content;  // CRC appended unless raw
    bool raw;
};

class BadReplies : public ::testing::TestWithParam<BadReply> {};

TEST_P(BadReplies, FailTheExchangeAndStickUntilTheNextReset) {
    ScriptedChannel ch(kCh);
    const BadReply bad = GetParam();
    ch.port().onFrame = [&](ScriptedPort& p, const Bytes& f) {
        Bytes content = bad.content;
        if (content.size() > 0 && content[0] == 0xFF) content[0] = f[0];  // answer's own seq
        if (bad.raw) {
            Bytes wire = {0x7E};
            wire.insert(wire.end(), content.begin(), content.end());
            wire.push_back(0x7E);
            p.Queue(wire);
        } else {
            p.QueueFrame(content);
        }
    };
    EXPECT_EQ(FLASH_DOWNLOADER_Unlock(kCh), 0) << bad.name;
    EXPECT_GT(FN[kCh].errorCount, 0) << bad.name;
    // The failed exchange ran the close procedure: CLOSE went out.
    ASSERT_GE(ch.port().frames.size(), 2u);
    EXPECT_EQ(ch.port().frames.back()[1], 0xC0) << bad.name;
    // Sticky: a later wait fails at its first pass although replies now come right.
    ch.AckEverything();
    SendWrite(0, 0);
    EXPECT_FALSE(FLASH_DOWNLOADER_WaitAllAcked(kCh, 3000)) << bad.name;
}

INSTANTIATE_TEST_SUITE_P(
    Link, BadReplies,
    ::testing::Values(BadReply{"NakRefused", {0xFF, 0x03, 0x00, 0x02}, false},
                      BadReply{"OtherCode", {0xFF, 0x05, 0x00, 0x00}, false},
                      BadReply{"BadCrc", {0xFF, 0x02, 0x00, 0x00, 0x12, 0x34}, true},
                      BadReply{"SequenceAbove3", {0x04, 0x02, 0x00, 0x00}, false},
                      BadReply{"Sequence0x80", {0x80, 0x02, 0x00, 0x00}, false},
                      BadReply{"ThreeBytesOfZero", {0x00, 0x00, 0x00}, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Replies, ShorterThanThreeBytesAreNotCounted) {
    ScriptedChannel ch(kCh);
    FLASH_DOWNLOADER_Reset(kCh);
    const int replies = FN[kCh].replyCount;
    ch.port().Queue(Bytes{0x7E, 0x01, 0x02, 0x7E});
    SERIAL_PORT_DoReading(kCh);
    EXPECT_EQ(FN[kCh].replyCount, replies);
    EXPECT_EQ(FN[kCh].errorCount, 0);
}

TEST(Resend, ANakAskingForAFrameAgainSendsTheSameBodyUnderTheNextNumber) {
    ScriptedChannel ch(kCh);
    int count = 0;
    ch.port().onFrame = [&](ScriptedPort& p, const Bytes& f) {
        p.QueueReply(f[0], ++count == 1 ? 0x03 : 0x02, 1);
    };
    FLASH_DOWNLOADER_Reset(kCh);
    const Bytes data = {0xAB, 0xCD};
    ASSERT_EQ(FLASH_DOWNLOADER_Write(kCh, 0x18000, 2, data), 1);
    EXPECT_TRUE(FLASH_DOWNLOADER_WaitAllAcked(kCh, 100)) << "the wait sends it again itself";
    EXPECT_EQ(FN[kCh].errorCount, 0);
    const auto& frames = ch.port().frames;
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(Seq(frames[1]), (Seq(frames[0]) + 1) & 3);
    // Same code and arguments; new sequence number and CRC.
    EXPECT_EQ(Bytes(frames[0].begin() + 1, frames[0].end() - 2),
              Bytes(frames[1].begin() + 1, frames[1].end() - 2));
}

TEST(Resend, ARequestForAFrameInTheMiddleOfAStreamDoesNotStallIt) {
    // The handset answers with a delay of two frames, and asks once for the frame that the
    // window will look at next, while the following send is already waiting on it.
    ScriptedChannel ch(kCh);
    std::vector<Bytes> unanswered;
    int seen = 0;
    ch.port().onFrame = [&](ScriptedPort& p, const Bytes& f) {
        unanswered.push_back(f);
        ++seen;
        while (unanswered.size() > 2) {
            const Bytes& oldest = unanswered.front();
            const bool refuse = (seen == 5);
            p.QueueReply(oldest[0], refuse ? 0x03 : 0x02, refuse ? 1 : 0);
            unanswered.erase(unanswered.begin());
        }
    };
    FLASH_DOWNLOADER_Reset(kCh);
    for (int block = 0; block < 40; ++block) {
        FLASH_DOWNLOADER_Resend(kCh);
        SendWrite(0x4000 * block, static_cast<std::uint8_t>(block));
        SERIAL_PORT_DoReading(kCh);
        ASSERT_EQ(FN[kCh].sendFailed, 0) << "block " << block;
        ASSERT_EQ(FN[kCh].errorCount, 0) << "block " << block;
    }
    // Flush the last answers.
    for (auto& f : unanswered) ch.port().QueueReply(f[0], 0x02);
    unanswered.clear();
    ch.AckEverything();
    EXPECT_TRUE(FLASH_DOWNLOADER_WaitAllAcked(kCh, 3000));
    EXPECT_EQ(ch.port().frames.size(), 41u) << "40 blocks and one resend";
    EXPECT_LT(ScriptedChannel::Passes(), 1000);
}

TEST(Resend, AFrameNoLongerHeldIsALinkErrorNotAHang) {
    ScriptedChannel ch(kCh);
    FLASH_DOWNLOADER_Reset(kCh);
    FLASH_DOWNLOADER_MarkResend(kCh, FN[kCh].sentCount + 7);  // no buffer went out under it
    FLASH_DOWNLOADER_Resend(kCh);
    EXPECT_EQ(FN[kCh].error_no, -1);
    EXPECT_EQ(FN[kCh].errorCount, 1);
    EXPECT_TRUE(ch.port().frames.empty());
}

TEST(Resend, TwoRequestsReadAtOnceAreBothSentAgainOldestFirst) {
    // The handset asks for the first two of three frames again, and both answers arrive in one
    // read (a burst of noise over two frames): neither may be forgotten.
    ScriptedChannel ch(kCh);
    FLASH_DOWNLOADER_Reset(kCh);
    for (int i = 0; i < 3; ++i) SendWrite(0x4000 * i, static_cast<std::uint8_t>(0x10 + i));
    const auto sent = ch.port().frames;
    ch.port().QueueReply(Seq(sent[0]), 0x03, 1);
    ch.port().QueueReply(Seq(sent[1]), 0x03, 1);
    ch.port().QueueReply(Seq(sent[2]), 0x02);
    SERIAL_PORT_DoReading(kCh);
    EXPECT_EQ(FN[kCh].pendingCount, 2);
    EXPECT_EQ(FLASH_DOWNLOADER_Unconfirmed(kCh), 2);

    ch.AckEverything();
    EXPECT_TRUE(FLASH_DOWNLOADER_WaitAllAcked(kCh, 3000));
    const auto& frames = ch.port().frames;
    ASSERT_EQ(frames.size(), 5u);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(Bytes(frames[3 + i].begin() + 1, frames[3 + i].end() - 2),
                  Bytes(sent[i].begin() + 1, sent[i].end() - 2))
            << "resend " << i;
    }
    EXPECT_EQ(FN[kCh].errorCount, 0);
    EXPECT_EQ(FLASH_DOWNLOADER_Unconfirmed(kCh), 0);
}

TEST(Resend, AWaitIsNotCompleteWhileAFrameAskedForAgainIsUnconfirmed) {
    // Counts alone would call this complete: three sent, three answered.
    ScriptedChannel ch(kCh);
    FLASH_DOWNLOADER_Reset(kCh);
    for (int i = 0; i < 3; ++i) SendWrite(0x4000 * i, static_cast<std::uint8_t>(i));
    const auto sent = ch.port().frames;
    ch.port().QueueReply(Seq(sent[0]), 0x02);
    ch.port().QueueReply(Seq(sent[1]), 0x03, 1);
    ch.port().QueueReply(Seq(sent[2]), 0x03, 1);
    SERIAL_PORT_DoReading(kCh);
    ASSERT_EQ(FN[kCh].sentCount, FN[kCh].replyCount);
    // The resends go out, but nothing answers them.
    EXPECT_FALSE(FLASH_DOWNLOADER_WaitAllAcked(kCh, 100));
    EXPECT_EQ(ch.port().frames.size(), 5u);
    EXPECT_EQ(FLASH_DOWNLOADER_Unconfirmed(kCh), 2);
    EXPECT_EQ(FLASH_DOWNLOADER_Close(kCh), 0);
}

TEST(Resend, MoreRequestsThanTheBuffersHoldIsALinkErrorNotALoss) {
    ScriptedChannel ch(kCh);
    FLASH_DOWNLOADER_Reset(kCh);
    const int base = FN[kCh].sentCount;
    for (int i = 0; i < 5; ++i) FLASH_DOWNLOADER_MarkResend(kCh, base + i);
    EXPECT_EQ(FN[kCh].pendingCount, 4);
    EXPECT_EQ(FN[kCh].errorCount, 1);
}

TEST(Resend, FramesAskedForAgainInSeparateReadsEachKeepTheirBufferUntilAcknowledged) {
    // The image transfer's shape: three blocks in flight; the handset asks for the first again,
    // the transfer resends it and builds the next block, and the request for the second arrives
    // only while that block waits for window space. The block must not take the second's buffer.
    ScriptedChannel ch(kCh);
    FLASH_DOWNLOADER_Reset(kCh);
    for (int i = 0; i < 3; ++i) SendWrite(0x4000 * i, static_cast<std::uint8_t>(0x20 + i));
    const auto sent = ch.port().frames;
    ch.port().QueueReply(Seq(sent[0]), 0x03, 1);
    SERIAL_PORT_DoReading(kCh);
    FLASH_DOWNLOADER_Resend(kCh);
    ch.port().QueueReply(Seq(sent[1]), 0x03, 1);
    SendWrite(0xC000, 0x23);
    ch.port().QueueReply(Seq(sent[2]), 0x02);
    SERIAL_PORT_DoReading(kCh);
    FLASH_DOWNLOADER_Resend(kCh);
    ASSERT_EQ(FN[kCh].errorCount, 0) << "the second block is still held";

    ch.AckEverything();
    for (std::size_t i = 3; i < ch.port().frames.size(); ++i)
        ch.port().QueueReply(Seq(ch.port().frames[i]), 0x02);
    EXPECT_TRUE(FLASH_DOWNLOADER_WaitAllAcked(kCh, 3000));
    const auto& frames = ch.port().frames;
    ASSERT_EQ(frames.size(), 6u);
    const auto body = [](const Bytes& f) { return Bytes(f.begin() + 1, f.end() - 2); };
    EXPECT_EQ(body(frames[3]), body(sent[0]));
    EXPECT_EQ(body(frames[5]), body(sent[1])) << "the second block went out again unchanged";
    EXPECT_EQ(FLASH_DOWNLOADER_Unconfirmed(kCh), 0);
}

TEST(Resend, TheSameRequestAskedForAgainMoreThanEightTimesInARowIsALinkError) {
    struct Case {
        int times;  // "send again" answers before an acknowledge
        bool ok;
    };
    for (const Case c : {Case{kResendLimit, true}, Case{kResendLimit + 1, false}}) {
        SCOPED_TRACE(c.times);
        ScriptedChannel ch(kCh);
        int asked = 0;
        ch.port().onFrame = [&](ScriptedPort& p, const Bytes& f) {
            const bool again = asked++ < c.times;
            p.QueueReply(f[0], again ? 0x03 : 0x02, again ? 1 : 0);
        };
        FLASH_DOWNLOADER_Reset(kCh);
        EXPECT_EQ(FLASH_DOWNLOADER_EndImage(kCh), c.ok ? 1 : 0);
        EXPECT_EQ(FN[kCh].fault, c.ok ? LinkFault::None : LinkFault::ResendLimit);
        // Each answer went to a frame: the limit sends no ninth repeat.
        EXPECT_EQ(std::count_if(ch.port().frames.begin(), ch.port().frames.end(),
                                [](const Bytes& f) { return f[1] == 0x78; }),
                  c.ok ? c.times + 1 : kResendLimit + 1);
    }
}

TEST(Replies, AReplyUnderAnotherSequenceNumberIsOutOfOrderAndConfirmsNothing) {
    // The handset never got the first frame (lost on the line) and answers the second: counted
    // by arrival, that acknowledge would confirm a request the handset never carried out.
    struct Case {
        const char* name;
        int frames;    // sent before the reply
        int replyFor;  // the frame whose sequence number the reply carries
    };
    for (const Case c : {Case{"second frame answered first", 2, 1},
                         Case{"reply with nothing outstanding", 0, 0}}) {
        SCOPED_TRACE(c.name);
        ScriptedChannel ch(kCh);
        FLASH_DOWNLOADER_Reset(kCh);
        const int base = FN[kCh].sentCount;
        for (int i = 0; i < c.frames; ++i) SendWrite(0x4000 * i, static_cast<std::uint8_t>(i));
        ch.port().QueueReply(static_cast<std::uint8_t>((base + c.replyFor) & 3), 0x02);
        SERIAL_PORT_DoReading(kCh);
        EXPECT_EQ(FN[kCh].fault, LinkFault::OutOfOrder);
        EXPECT_EQ(FLASH_DOWNLOADER_Unconfirmed(kCh), c.frames) << "nothing was confirmed";
        EXPECT_NE(FLASH_DOWNLOADER_Answer(kCh, base), FrameAnswer::Ack);
        EXPECT_FALSE(FLASH_DOWNLOADER_WaitAllAcked(kCh, 100));
    }
}

TEST(Send, AFrameNotWrittenWholeIsNotSentAndNamesTheWriteAndItsError) {
    struct Case {
        const char* name;
        int writeErrno;
        int acceptAtMost;
    };
    for (const Case c : {Case{"write refused", EIO, -1}, Case{"write cut short", 0, 5}}) {
        SCOPED_TRACE(c.name);
        ScriptedChannel ch(kCh);
        FLASH_DOWNLOADER_Reset(kCh);
        ch.port().writeErrno = c.writeErrno;
        ch.port().acceptAtMost = c.acceptAtMost;
        EXPECT_EQ(FLASH_DOWNLOADER_EndImage(kCh), 0);
        EXPECT_EQ(FN[kCh].sendFailed, 1);
        EXPECT_TRUE(FN[kCh].writeFailed);
        EXPECT_EQ(FLASH_DOWNLOADER_Unconfirmed(kCh), 1);
        OUTCOME_Clear(kCh);
        OUTCOME_RecordLink(kCh, JobStep::EndImage);
        const JobOutcome outcome = OUTCOME_Get(kCh);
        EXPECT_EQ(outcome.step, JobStep::Write) << OUTCOME_Describe(outcome);
        EXPECT_EQ(outcome.reason, JobReason::WriteFailed);
        EXPECT_EQ(outcome.code, c.writeErrno);
    }
}
