// The frame layer: checksum, stuffing, staging into 4096-byte writes, and reassembly of the
// handset's bytes into whole frames.
#include "link/frame.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/crc16.h"
#include "link/flash_downloader.h"
#include "link/frame_codec.h"
#include "support/scripted_port.h"
#include "transport/serial_port.h"

using Bytes = std::vector<std::uint8_t>;

namespace {

std::uint16_t Crc(const Bytes& b) {
    return CRC16_Compute(b);
}

// Collects what the assembler hands up.
std::vector<Bytes> Assemble(FrameAssembler& a, const Bytes& in) {
    std::vector<Bytes> out;
    a.Feed(in, [&](std::span<const std::uint8_t> f) { out.emplace_back(f.begin(), f.end()); });
    return out;
}

}  // namespace

TEST(Crc16, MatchesThePublishedCheckValueAndTheLinkExamples) {
    const std::string digits = "123456789";
    EXPECT_EQ(Crc(Bytes(digits.begin(), digits.end())), 0x906E);
    EXPECT_EQ(Crc({0xA0}), 0x5572);
    EXPECT_EQ(Crc({0x02}), 0xD36A);
    EXPECT_EQ(Crc({0x03, 0x00, 0x01}), 0x3821);
    EXPECT_EQ(Crc({}), 0x0000);
}

TEST(Crc16, AppendAndCheckUseTheGivenWindowOnly) {
    Bytes frame = {0x01, 0xA0, 0, 0};
    CRC16_Append(frame, 1, 1);
    EXPECT_EQ(frame, (Bytes{0x01, 0xA0, 0x72, 0x55}));
    EXPECT_TRUE(CRC16_Check(frame, 1, 3));
    frame[0] = 0x03;  // the sequence number is not covered
    EXPECT_TRUE(CRC16_Check(frame, 1, 3));
    frame[1] = 0xA1;
    EXPECT_FALSE(CRC16_Check(frame, 1, 3));
    Bytes empty = {0x00, 0x00, 0x00};
    EXPECT_TRUE(CRC16_Check(empty, 1, 2)) << "the CRC of no bytes is 0x0000";
    EXPECT_FALSE(CRC16_Check(empty, 2, 2)) << "a window past the end is refused, not read";
}

TEST(FrameSend, StuffsFlagAndEscapeBytesAnywhereIncludingTheCrc) {
    ScriptedChannel ch(0);
    Bytes content = {0x01, 0x7E, 0x7D, 0x11, 0x13, 0x0D};
    FRAME_Send(0, content, 0, static_cast<int>(content.size()));
    EXPECT_EQ(ch.port().written,
              (Bytes{0x7E, 0x01, 0x7D, 0x5E, 0x7D, 0x5D, 0x11, 0x13, 0x0D, 0x7E}));

    // Find a one-byte body whose CRC holds 0x7E or 0x7D, and check it goes out stuffed.
    for (int b = 0; b < 256; ++b) {
        const std::uint16_t crc = Crc({static_cast<std::uint8_t>(b)});
        const std::uint8_t lo = crc & 0xFF, hi = crc >> 8;
        if (lo != 0x7E && lo != 0x7D && hi != 0x7E && hi != 0x7D) continue;
        Bytes frame = {0x00, static_cast<std::uint8_t>(b), 0, 0};
        CRC16_Append(frame, 1, 1);
        ch.port().written.clear();
        FRAME_Send(0, frame, 0, 4);
        Bytes expected;
        FRAME_EncodeTo(frame, expected);
        EXPECT_EQ(ch.port().written, expected);
        FrameAssembler a;
        auto frames = Assemble(a, ch.port().written);
        ASSERT_EQ(frames.size(), 1u);
        EXPECT_EQ(frames[0], frame);
        return;
    }
    FAIL() << "no CRC with a byte to stuff";
}

TEST(FrameSend, LongFramesLeaveInWritesOf4096BytesAndTheRestAtTheClosingFlag) {
    ScriptedChannel ch(1);
    Bytes content(10000, 0x7E);  // stuffed to 20000 bytes
    FRAME_Send(1, content, 0, static_cast<int>(content.size()));
    const auto& sizes = ch.port().writeSizes;
    ASSERT_EQ(sizes.size(), 5u);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(sizes[i], 4096u);
    EXPECT_EQ(sizes[4], 20002u - 4 * 4096u);
    // A frame never shares a write with the next one.
    ch.port().writeSizes.clear();
    FRAME_Send(1, Bytes{0x00, 0x01}, 0, 2);
    EXPECT_EQ(ch.port().writeSizes, (std::vector<std::size_t>{4}));
}

TEST(FrameAssembler, SkipsRunsOfFlagsAndEmptyFrames) {
    FrameAssembler a;
    auto frames = Assemble(a, {0x7E, 0x7E, 0x7E, 0x01, 0x02, 0x6A, 0xD3, 0x7E});
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], (Bytes{0x01, 0x02, 0x6A, 0xD3}));
    EXPECT_TRUE(Assemble(a, {0x7E, 0x7E}).empty());
}

TEST(FrameAssembler, AFlagSharedBetweenTwoFramesDropsTheSecond) {
    FrameAssembler a;
    auto frames = Assemble(a, {0x7E, 0xAA, 0xBB, 0x7E, 0xCC, 0xDD, 0x7E});
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], (Bytes{0xAA, 0xBB}));
    EXPECT_EQ(a.State(), 1) << "frame B's closing flag opens a new frame";
}

TEST(FrameAssembler, DropsGarbageBetweenFramesAndUnstuffs) {
    FrameAssembler a;
    auto frames = Assemble(a, {0x11, 0x22, 0x7E, 0x7D, 0x5E, 0x7D, 0x5D, 0x7E, 0x33});
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], (Bytes{0x7E, 0x7D}));
    // An escaped flag yields 0x5E and does not end the frame.
    frames = Assemble(a, {0x7E, 0x01, 0x7D, 0x7E, 0x02, 0x7E});
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], (Bytes{0x01, 0x5E, 0x02}));
}

TEST(FrameAssembler, ReassemblesAFrameSplitAnywhereEvenInsideAnEscape) {
    const Bytes wire = {0x7E, 0x01, 0x7D, 0x5E, 0x02, 0x7D, 0x5D, 0x7E};
    for (std::size_t cut = 0; cut <= wire.size(); ++cut) {
        FrameAssembler a;
        auto first = Assemble(a, Bytes(wire.begin(), wire.begin() + cut));
        auto second = Assemble(a, Bytes(wire.begin() + cut, wire.end()));
        first.insert(first.end(), second.begin(), second.end());
        ASSERT_EQ(first.size(), 1u) << "cut at " << cut;
        EXPECT_EQ(first[0], (Bytes{0x01, 0x7E, 0x02, 0x7D}));
    }
}

TEST(FrameAssembler, DropsAFrameTooLongForTheFrameAreaAndFindsTheNextOne) {
    FrameAssembler a;
    Bytes in = {0x7E};
    in.insert(in.end(), kFrameAreaSize + 10, 0x55);
    in.push_back(0x7E);
    in.insert(in.end(), {0x7E, 0x01, 0x02, 0x7E});
    auto frames = Assemble(a, in);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], (Bytes{0x01, 0x02}));
    EXPECT_EQ(a.DroppedOversize(), 1);
    // A frame of exactly the area's size still goes up.
    Bytes full = {0x7E};
    full.insert(full.end(), kFrameAreaSize, 0x01);
    full.push_back(0x7E);
    frames = Assemble(a, full);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].size(), static_cast<std::size_t>(kFrameAreaSize));
}

TEST(ReceivePump, ReadsAtMost4096BytesPerCall) {
    ScriptedChannel ch(2);
    Bytes noise(5000, 0x11);
    ch.port().Queue(noise);
    EXPECT_EQ(SERIAL_PORT_DoReading(2), 4096);
    EXPECT_EQ(ch.port().Pending(), 5000u - 4096u);
    EXPECT_EQ(SERIAL_PORT_DoReading(2), 5000 - 4096);
    EXPECT_EQ(SERIAL_PORT_DoReading(2), 0);
}

TEST(ReceivePump, AReadFailureClosesThePort) {
    ScriptedChannel ch(3);
    ch.port().dead = true;
    EXPECT_LT(SERIAL_PORT_DoReading(3), 0);
    EXPECT_FALSE(g_hSerialDevice.IsOpen(3));
}
