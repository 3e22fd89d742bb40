// The command set: request layouts to the byte, guards, wait counts and the close procedure.
#include "link/commands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "link/flash_downloader.h"
#include "link/status_reporter.h"
#include "support/scripted_port.h"
#include "transport/serial_port.h"

using Bytes = std::vector<std::uint8_t>;

namespace {

constexpr int kCh = 5;

// Makes the next frame go out under the given sequence number.
void NextSequence(int seq) {
    FN[kCh].replyCount = seq;
    FLASH_DOWNLOADER_Reset(kCh);
}

}  // namespace

TEST(CommandCodes, TableEndsAndOutOfRange) {
    EXPECT_EQ(FLASH_DOWNLOADER_GetCode(0), 0x02);
    EXPECT_EQ(FLASH_DOWNLOADER_GetCode(11), 0xA0);
    EXPECT_EQ(FLASH_DOWNLOADER_GetCode(28), 0x7D);
    EXPECT_EQ(FLASH_DOWNLOADER_GetCode(29), 0xFF);
    EXPECT_EQ(FLASH_DOWNLOADER_GetCode(-1), 0xFF);
}

TEST(Requests, WorkedExamplesMatchTheWireToTheByte) {
    ScriptedChannel ch(kCh);
    ch.AckEverything();

    // UNLOCK resets the link first; with both counters at 1 it goes out under sequence 1.
    NextSequence(1);
    ASSERT_EQ(FLASH_DOWNLOADER_Unlock(kCh), 1);
    EXPECT_EQ(Bytes(ch.port().written.begin(), ch.port().written.begin() + 6),
              (Bytes{0x7E, 0x01, 0xA0, 0x72, 0x55, 0x7E}));

    ch.port().written.clear();
    NextSequence(2);
    ASSERT_EQ(FLASH_DOWNLOADER_Version(kCh, DOWNLOADER_VERSION), 1);
    EXPECT_EQ(ch.port().written,
              (Bytes{0x7E, 0x02, 0x69, 0x20, 0x01, 0x00, 0x00, 0x2F, 0xEA, 0x7E}));

    ch.port().written.clear();
    NextSequence(3);
    ASSERT_EQ(FLASH_DOWNLOADER_Area(kCh, CMD_INIT_PARTITION), 1);
    EXPECT_EQ(ch.port().written,
              (Bytes{0x7E, 0x03, 0x70, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0xE4, 0x84, 0x7E}));

    ch.port().written.clear();
    NextSequence(4);
    ASSERT_EQ(FLASH_DOWNLOADER_Erase(kCh, 0x18000, 32768), 1);
    EXPECT_EQ(ch.port().written, (Bytes{0x7E, 0x00, 0xEE, 0x00, 0x80, 0x01, 0x00, 0x00, 0x80, 0x00,
                                        0x00, 0x65, 0x31, 0x7E}));
}

TEST(Requests, AreaRequestsCarryAddressZeroAndLengthOneWhateverTheArea) {
    ScriptedChannel ch(kCh);
    ch.AckEverything();
    FLASH_DOWNLOADER_Reset(kCh);
    for (int index : {CMD_INIT_PBL, CMD_INIT_AMSS, CMD_ERASE_ALL_NAND, CMD_ERASE_NAND_EXCEPT_BACKUP,
                      CMD_SECURITY_MODE}) {
        ch.port().frames.clear();
        ASSERT_EQ(FLASH_DOWNLOADER_Area(kCh, index), 1);
        ASSERT_EQ(ch.port().frames.size(), 1u);
        const Bytes& f = ch.port().frames[0];
        EXPECT_EQ(Bytes(f.begin() + 1, f.end() - 2),
                  (Bytes{FLASH_DOWNLOADER_GetCode(index), 0, 0, 0, 0, 1, 0}));
    }
}

TEST(Requests, FullWriteAndFsWriteBlocksHaveTheirExactLayout) {
    ScriptedChannel ch(kCh);
    ch.AckEverything();
    FLASH_DOWNLOADER_Reset(kCh);
    Bytes block(kBlockSize);
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(i * 7);
    ASSERT_EQ(FLASH_DOWNLOADER_Write(kCh, 0x00123456, kBlockSize, block), 1);
    ASSERT_EQ(FLASH_DOWNLOADER_FsWrite(kCh, 0x4000, kBlockSize, block), 1);
    ASSERT_TRUE(FLASH_DOWNLOADER_WaitAllAcked(kCh, 100));
    ASSERT_EQ(ch.port().frames.size(), 2u);
    const Bytes& w = ch.port().frames[0];
    ASSERT_EQ(w.size(), 1u + 16392u + 2u);
    EXPECT_EQ(Bytes(w.begin() + 1, w.begin() + 9),
              (Bytes{0xDD, 0x56, 0x34, 0x12, 0x00, 0x00, 0x40, 0xDD}));
    EXPECT_EQ(Bytes(w.begin() + 9, w.end() - 2), block);
    const Bytes& fs = ch.port().frames[1];
    ASSERT_EQ(fs.size(), 1u + 16391u + 2u);
    EXPECT_EQ(Bytes(fs.begin() + 1, fs.begin() + 8),
              (Bytes{0xCC, 0x00, 0x40, 0x00, 0x00, 0x00, 0x40}));
    EXPECT_EQ(Bytes(fs.begin() + 8, fs.end() - 2), block);
}

TEST(Requests, GuardsRefuseOutOfRangeLengthsAndSendNothing) {
    ScriptedChannel ch(kCh);
    ch.AckEverything();
    FLASH_DOWNLOADER_Reset(kCh);
    Bytes block(kBlockSize + 1);
    EXPECT_EQ(FLASH_DOWNLOADER_Write(kCh, 0, 0, block), 0);
    EXPECT_EQ(FLASH_DOWNLOADER_Write(kCh, 0, kBlockSize + 1, block), 0);
    EXPECT_EQ(FLASH_DOWNLOADER_FsWrite(kCh, 0, -1, block), 0);
    EXPECT_TRUE(ch.port().frames.empty());

    // An erase below one block sends nothing and still succeeds, at once.
    EXPECT_EQ(FLASH_DOWNLOADER_Erase(kCh, 0, 16383), 1);
    EXPECT_TRUE(ch.port().frames.empty());
    EXPECT_EQ(ScriptedChannel::Passes(), 0);
    EXPECT_EQ(FLASH_DOWNLOADER_Erase(kCh, 0, 16384), 1);
    EXPECT_EQ(ch.port().frames.size(), 1u);
}

TEST(Exchanges, EraseWaitsFiftyThousandPassesBeforeItFails) {
    ScriptedChannel ch(kCh);
    FLASH_DOWNLOADER_Reset(kCh);
    EXPECT_EQ(FLASH_DOWNLOADER_Erase(kCh, 0, 16384), 0);
    // 50000 for the erase, then the close procedure's 3000.
    EXPECT_EQ(ScriptedChannel::Passes(), 50000 + 3000);
}

TEST(Exchanges, ASilentHandsetFailsTheUnlockAndGetsOneClose) {
    ScriptedChannel ch(kCh);
    EXPECT_EQ(FLASH_DOWNLOADER_Unlock(kCh), 0);
    EXPECT_EQ(ScriptedChannel::Passes(), 3000 + 3000);
    ASSERT_EQ(ch.port().frames.size(), 2u);
    EXPECT_EQ(ch.port().frames[0][1], 0xA0);
    EXPECT_EQ(ch.port().frames[1][1], 0xC0);
    EXPECT_EQ(FN[kCh].sendFailed, 1);
    // A second close procedure (the job's own) skips the wait.
    const long long passes = ScriptedChannel::Passes();
    EXPECT_EQ(FLASH_DOWNLOADER_Close(kCh), 0);
    EXPECT_LE(ScriptedChannel::Passes() - passes, kWindowPasses);
}

TEST(Exchanges, AnUnlockRefusedWithReasonTwoFailsAtTheNextPassAndStillCloses) {
    ScriptedChannel ch(kCh);
    ch.port().onFrame = [](ScriptedPort& p, const Bytes& f) {
        p.QueueReply(f[0], f[1] == 0xA0 ? 0x03 : 0x02, 2);
    };
    EXPECT_EQ(FLASH_DOWNLOADER_Unlock(kCh), 0);
    EXPECT_LE(ScriptedChannel::Passes(), 1);
    ASSERT_EQ(ch.port().frames.size(), 2u);
    EXPECT_EQ(ch.port().frames[1][1], 0xC0);
}

TEST(Exchanges, FileSystemPreparationFollowsTheFormatOption) {
    ScriptedChannel ch(kCh);
    ch.AckEverything();
    FLASH_DOWNLOADER_Reset(kCh);
    LINK_SetFormat(1);
    ASSERT_EQ(FLASH_DOWNLOADER_FsPrepare(kCh), 1);
    LINK_SetFormat(0);
    ASSERT_EQ(FLASH_DOWNLOADER_FsPrepare(kCh), 1);
    ASSERT_EQ(ch.port().frames.size(), 2u);
    EXPECT_EQ(ch.port().frames[0][1], 0xF0);
    EXPECT_EQ(ch.port().frames[1][1], 0xF1);
}

TEST(Exchanges, AnExchangeWhoseRequestIsAskedForAgainResendsItAndSucceeds) {
    ScriptedChannel ch(kCh);
    int n = 0;
    ch.port().onFrame = [&](ScriptedPort& p, const Bytes& f) {
        p.QueueReply(f[0], ++n == 1 ? 0x03 : 0x02, 1);
    };
    FLASH_DOWNLOADER_Reset(kCh);
    ASSERT_EQ(FLASH_DOWNLOADER_EndImage(kCh), 1);
    ASSERT_EQ(ch.port().frames.size(), 2u);
    EXPECT_EQ(ch.port().frames[1][1], 0x78);
    EXPECT_EQ(ch.port().frames[1][0], (ch.port().frames[0][0] + 1) & 3);
    EXPECT_EQ(FN[kCh].errorCount, 0);
}

TEST(Exchanges, AResendAskedForAfterTheLastBlocksIsSentByTheNextExchange) {
    // The handset asks for the last block again while END_IMAGE is already waiting.
    ScriptedChannel ch(kCh);
    int writes = 0;
    ch.port().onFrame = [&](ScriptedPort& p, const Bytes& f) {
        const bool refuse = f[1] == 0xDD && ++writes == 3;
        p.QueueReply(f[0], refuse ? 0x03 : 0x02, 1);
    };
    FLASH_DOWNLOADER_Reset(kCh);
    const Bytes block(16, 0x5A);
    for (int i = 0; i < 3; ++i) FLASH_DOWNLOADER_Write(kCh, 0x4000 * i, 16, block);
    ASSERT_EQ(FLASH_DOWNLOADER_EndImage(kCh), 1);
    const auto& frames = ch.port().frames;
    ASSERT_EQ(frames.size(), 5u);
    EXPECT_EQ(frames[4][1], 0xDD) << "the refused block went out again";
    EXPECT_EQ(Bytes(frames[4].begin() + 2, frames[4].end() - 2),
              Bytes(frames[2].begin() + 2, frames[2].end() - 2));
}

TEST(Exchanges, CloseResendsWhatWasAskedForBeforeClosing) {
    ScriptedChannel ch(kCh);
    int n = 0;
    ch.port().onFrame = [&](ScriptedPort& p, const Bytes& f) {
        p.QueueReply(f[0], ++n == 1 ? 0x03 : 0x02, 1);
    };
    FLASH_DOWNLOADER_Reset(kCh);
    const Bytes block(16, 0x11);
    FLASH_DOWNLOADER_Write(kCh, 0, 16, block);
    SERIAL_PORT_DoReading(kCh);
    ASSERT_NE(FN[kCh].error_no, -1);
    EXPECT_EQ(FLASH_DOWNLOADER_Close(kCh), 1);
    ASSERT_EQ(ch.port().frames.size(), 3u);
    EXPECT_EQ(ch.port().frames[1][1], 0xDD);
    EXPECT_EQ(ch.port().frames[2][1], 0xC0);
    EXPECT_EQ(FN[kCh].sendFailed, 0);
}

TEST(Exchanges, CloseFailsWhenTheWindowDoesNotAdmitClose) {
    ScriptedChannel ch(kCh);
    FLASH_DOWNLOADER_Reset(kCh);
    // Nothing outstanding, but the number CLOSE's successor would take is still unanswered.
    FN[kCh].slotState[(FN[kCh].sentCount + 1) & 3] = 0;
    EXPECT_EQ(FLASH_DOWNLOADER_Close(kCh), 0);
    EXPECT_TRUE(ch.port().frames.empty());
    EXPECT_EQ(FN[kCh].sendFailed, 1);
}

TEST(Exchanges, FinalAnswersTellAcknowledgedRefusedAndSilentApart) {
    struct Case {
        std::uint8_t closeCode, goCode;  // 0: no answer
        FinalAnswer close, go;
    };
    const Case cases[] = {
        {0x02, 0x02, FinalAnswer::Acknowledged, FinalAnswer::Acknowledged},
        {0x02, 0x00, FinalAnswer::Acknowledged, FinalAnswer::None},
        {0x02, 0x03, FinalAnswer::Acknowledged, FinalAnswer::Refused},
        {0x03, 0x02, FinalAnswer::Refused, FinalAnswer::Acknowledged},
    };
    for (const Case& c : cases) {
        ScriptedChannel ch(kCh);
        ch.port().onFrame = [&](ScriptedPort& p, const Bytes& f) {
            const std::uint8_t code = f[1] == 0xC0 ? c.closeCode : c.goCode;
            if (code != 0) p.QueueReply(f[0], code, code == 0x03 ? 2 : 0);
        };
        FLASH_DOWNLOADER_Reset(kCh);
        std::int64_t grace = kFinalGraceUs;
        ASSERT_EQ(FLASH_DOWNLOADER_Close(kCh), 1);
        EXPECT_EQ(FLASH_DOWNLOADER_WaitFinalAnswer(kCh, FN[kCh].closeSentAs, grace), c.close);
        ASSERT_EQ(ch.port().frames.size(), 1u) << "GO waits for CLOSE's answer";
        ASSERT_EQ(FLASH_DOWNLOADER_Go(kCh), 1);
        const long long before = ScriptedChannel::Passes();
        EXPECT_EQ(FLASH_DOWNLOADER_WaitFinalAnswer(kCh, FN[kCh].goSentAs, grace), c.go);
        const long long passes = ScriptedChannel::Passes() - before;
        if (c.go == FinalAnswer::None) {
            EXPECT_EQ(passes, kWaitShort) << "a silent GO gets the rest of the grace";
            EXPECT_LE(grace, 0);
        } else {
            EXPECT_EQ(passes, 0) << "answers already read end the grace at once";
        }
    }
}

TEST(Exchanges, ALineGlitchOnGoIsMendedWithinTheGrace) {
    ScriptedChannel ch(kCh);
    int gos = 0;
    ch.port().onFrame = [&](ScriptedPort& p, const Bytes& f) {
        const bool firstGo = f[1] == 0x0A && ++gos == 1;
        p.QueueReply(f[0], firstGo ? 0x03 : 0x02, firstGo ? 1 : 0);
    };
    FLASH_DOWNLOADER_Reset(kCh);
    std::int64_t grace = kFinalGraceUs;
    ASSERT_EQ(FLASH_DOWNLOADER_Close(kCh), 1);
    ASSERT_EQ(FLASH_DOWNLOADER_WaitFinalAnswer(kCh, FN[kCh].closeSentAs, grace),
              FinalAnswer::Acknowledged);
    ASSERT_EQ(FLASH_DOWNLOADER_Go(kCh), 1);
    EXPECT_EQ(FLASH_DOWNLOADER_WaitFinalAnswer(kCh, FN[kCh].goSentAs, grace),
              FinalAnswer::Acknowledged);
    EXPECT_EQ(gos, 2);
    EXPECT_EQ(FLASH_DOWNLOADER_Unconfirmed(kCh), 0);
}

TEST(Exchanges, CloseIsAcknowledgedOnlyUnderItsOwnFrameAfterAsManyResendsAsAsked) {
    struct Case {
        const char* name;
        int closeAsked;  // "send again" answers to CLOSE before it is acknowledged
        FinalAnswer close;
        LinkFault fault;
    };
    const Case cases[] = {
        {"asked for again twice", 2, FinalAnswer::Acknowledged, LinkFault::None},
        {"asked for again up to the limit", kResendLimit, FinalAnswer::Acknowledged,
         LinkFault::None},
        {"asked for again past the limit", kResendLimit + 1, FinalAnswer::AskedAgain,
         LinkFault::ResendLimit},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedChannel ch(kCh);
        int closes = 0;
        ch.port().onFrame = [&](ScriptedPort& p, const Bytes& f) {
            const bool again = f[1] == 0xC0 && closes++ < c.closeAsked;
            p.QueueReply(f[0], again ? 0x03 : 0x02, again ? 1 : 0);
        };
        FLASH_DOWNLOADER_Reset(kCh);
        std::int64_t grace = kFinalGraceUs;
        ASSERT_EQ(FLASH_DOWNLOADER_Close(kCh), 1);
        EXPECT_EQ(FLASH_DOWNLOADER_WaitFinalAnswer(kCh, FN[kCh].closeSentAs, grace), c.close);
        EXPECT_EQ(closes, std::min(c.closeAsked, kResendLimit) + 1);
        EXPECT_EQ(FN[kCh].fault, c.fault);
    }
}

TEST(Exchanges, GoIsAnsweredUnderItsOwnFrameWhenAFrameAskedForAgainGoesOutFirst) {
    // A block asked for again is still pending when GO is built: it goes out first, and GO's
    // answer (a refusal) must not be taken from the block's acknowledge.
    ScriptedChannel ch(kCh);
    int writes = 0;
    ch.port().onFrame = [&](ScriptedPort& p, const Bytes& f) {
        if (f[1] == 0x0A) {
            p.QueueReply(f[0], 0x03, 2);
            return;
        }
        const bool again = f[1] == 0xDD && ++writes == 1;
        p.QueueReply(f[0], again ? 0x03 : 0x02, again ? 1 : 0);
    };
    FLASH_DOWNLOADER_Reset(kCh);
    const Bytes block(16, 0x22);
    ASSERT_EQ(FLASH_DOWNLOADER_Write(kCh, 0, 16, block), 1);
    SERIAL_PORT_DoReading(kCh);
    ASSERT_EQ(FN[kCh].pendingCount, 1);
    ASSERT_EQ(FLASH_DOWNLOADER_Go(kCh), 1);
    const auto& frames = ch.port().frames;
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[1][1], 0xDD) << "the block went out again first";
    EXPECT_EQ(frames[2][1], 0x0A);
    EXPECT_EQ(FN[kCh].goSentAs, FN[kCh].sentCount - 1) << "GO's own frame";
    std::int64_t grace = kFinalGraceUs;
    EXPECT_EQ(FLASH_DOWNLOADER_WaitFinalAnswer(kCh, FN[kCh].goSentAs, grace), FinalAnswer::Refused);
}
