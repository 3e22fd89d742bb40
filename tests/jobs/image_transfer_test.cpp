// Image transfer: what the erase covers, how the file is cut into blocks and where they go, the
// AMSS image's prefix, the bytes past the end of a file, and the progress messages. Each case
// runs one channel's job with only the slots it needs against the simulated handset.
#include <gtest/gtest.h>

#include <algorithm>

#include "jobs/job_test_util.h"
#include "sim/sim_flash.h"

using namespace jobs_test;

namespace {

const std::uint8_t kAmssArea = kCommandCodes[CMD_INIT_AMSS];
const std::uint8_t kHeaderArea = kCommandCodes[CMD_INIT_AMSS_HEADER];

struct Slot {
    int slot;
    std::string path;
    const char* address;
};

// Fills only these slots (every channel), runs channel ch against a fresh handset.
Line RunSlots(Recorder& recorder, int ch, const std::vector<Slot>& slots) {
    PELOR_ClearImages();
    for (const Slot& s : slots)
        EXPECT_EQ(PELOR_SetImage(s.slot, s.path.c_str(), s.address), s.slot);
    Line line = LoopLine();
    Ports ports{};
    ports[ch] = line.port;
    RunChannels(recorder, ports);
    return line;
}

// A tick counter about to wrap: the transfer reads it at its start and at its end.
std::atomic<int> g_ticksRead{0};
std::uint32_t WrappingTick() {
    return g_ticksRead++ % 2 == 0 ? 0xFFFFFC18u : 0x00000BB8u;
}

std::vector<std::uint32_t> Addresses(const std::vector<SimRequest>& requests) {
    std::vector<std::uint32_t> out;
    for (const SimRequest& r : requests) out.push_back(r.address);
    return out;
}

}  // namespace

TEST(ImageTransfer, EmptyFileErasesAndWritesNothingAndCompletes) {
    JobGuard guard;
    TempDir dir;
    ASSERT_TRUE(WriteBytes(dir.File("empty.mbn"), {}));
    constexpr int kCh = 2;
    Recorder rec;
    Line line = RunSlots(rec, kCh, {{11, dir.File("empty.mbn"), "18000"}});

    EXPECT_EQ(Sequence(SettledLog(*line)), "UNLOCK VERSION INIT_AMSS_HEADER CLOSE GO");
    EXPECT_EQ(rec.Texts(kCh),
              (std::vector<std::string>{"Download Start", "Init AMSS Header", "Erasing...",
                                        "Download Complete! [0 sec]"}));
    const auto progress = rec.Progress(kCh);
    ASSERT_EQ(progress.size(), 1u);  // the final one, which the window shows as "Done"
    EXPECT_EQ(progress[0].sent, 0);
    EXPECT_EQ(progress[0].size, 0);
    ExpectChannelEnded(kCh, 1);
}

TEST(ImageTransfer, CompletionTimeSurvivesATickCounterWrap) {
    JobGuard guard;
    g_ticksRead = 0;
    FLASH_DOWNLOADER_SetTickSource(&WrappingTick);
    TempDir dir;
    ASSERT_TRUE(WriteBytes(dir.File("one.mbn"), Pattern(100, 1)));
    constexpr int kCh = 6;
    Recorder rec;
    Line line = RunSlots(rec, kCh, {{11, dir.File("one.mbn"), "0"}});

    EXPECT_EQ(g_ticksRead.load(), 2);
    EXPECT_EQ(rec.LastText(kCh), "Download Complete! [4 sec]");  // 0xFFFFFC18 to 0xBB8: 4000 ms
    ExpectChannelEnded(kCh, 1);
}

TEST(ImageTransfer, FileOfExactlyOneBlockGoesInOneWrite) {
    JobGuard guard;
    TempDir dir;
    ASSERT_TRUE(WriteBytes(dir.File("one.mbn"), Pattern(kBlockSize, 1)));
    constexpr int kCh = 0;
    Recorder rec;
    Line line = RunSlots(rec, kCh, {{11, dir.File("one.mbn"), "0"}});
    const auto log = SettledLog(*line);

    EXPECT_EQ(Sequence(log), "UNLOCK VERSION INIT_AMSS_HEADER ERASE WRITE CLOSE GO");
    const auto writes = OfCode(log, CMD_WRITE);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].length, static_cast<std::uint32_t>(kBlockSize));
    EXPECT_EQ(writes[0].dataSize, static_cast<std::size_t>(kBlockSize));
    EXPECT_EQ(OfCode(log, CMD_ERASE)[0].length, static_cast<std::uint32_t>(kBlockSize));
    EXPECT_TRUE(VerifyChannel(*line, kCh).ok);
    ExpectChannelEnded(kCh, 1);
}

TEST(ImageTransfer, ShortLastBlockCarriesAFullLengthAndTheErasedRangeIsWholeBlocks) {
    JobGuard guard;
    TempDir dir;
    const Bytes image = Pattern(20000, 2);
    ASSERT_TRUE(WriteBytes(dir.File("img.mbn"), image));
    constexpr int kCh = 4;
    Recorder rec;
    Line line = RunSlots(rec, kCh, {{11, dir.File("img.mbn"), "18000"}});
    const auto log = SettledLog(*line);

    const auto erases = OfCode(log, CMD_ERASE);
    ASSERT_EQ(erases.size(), 1u);
    EXPECT_EQ(erases[0].address, 0x18000u);
    EXPECT_EQ(erases[0].length, 32768u);
    const auto writes = OfCode(log, CMD_WRITE);
    EXPECT_EQ(Addresses(writes), (std::vector<std::uint32_t>{0x18000, 0x1C000}));
    for (const SimRequest& w : writes) EXPECT_EQ(w.length, static_cast<std::uint32_t>(kBlockSize));
    const auto progress = rec.Progress(kCh);
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back().sent, 20000);
    EXPECT_EQ(progress.back().size, 20000);
    EXPECT_EQ(line->ReadArea(kHeaderArea, 0x18000, image.size()), image);
    ExpectChannelEnded(kCh, 1);
}

// The last block of an image must not carry bytes of whatever the channel read before: the
// handset is never told the file's length, so they would land in flash behind the image.
TEST(ImageTransfer, BytesPastTheEndOfAFileAreErasedFlashNeverAnEarlierImage) {
    JobGuard guard;
    TempDir dir;
    ASSERT_TRUE(WriteBytes(dir.File("first.mbn"), Bytes(2 * kBlockSize, 0x11)));
    ASSERT_TRUE(WriteBytes(dir.File("second.mbn"), Bytes(100, 0x22)));
    constexpr int kCh = 5;
    Recorder rec;
    Line line =
        RunSlots(rec, kCh, {{11, dir.File("first.mbn"), "0"}, {12, dir.File("second.mbn"), "0"}});

    EXPECT_EQ(
        Sequence(SettledLog(*line)),
        "UNLOCK VERSION INIT_AMSS_HEADER ERASE WRITE*2 INIT_AMSS ERASE WRITE END_IMAGE CLOSE GO");
    Bytes expected(kBlockSize, 0xFF);
    std::fill_n(expected.begin(), 100, 0x22);
    EXPECT_EQ(line->ReadArea(kAmssArea, 0, kBlockSize), expected);
    EXPECT_EQ(line->ReadArea(kHeaderArea, 0, 2 * kBlockSize), Bytes(2 * kBlockSize, 0x11));
    ExpectChannelEnded(kCh, 1);
}

TEST(ImageTransfer, AmssImageSkipsItsPrefixAndWritesTheRestAtTheSameOffsets) {
    JobGuard guard;
    TempDir dir;
    ASSERT_TRUE(WriteBytes(dir.File("amss.mbn"), Pattern(0x100000, 3)));
    constexpr int kCh = 1;
    Recorder rec;
    Line line = RunSlots(rec, kCh, {{12, dir.File("amss.mbn"), "18000"}});
    const auto log = SettledLog(*line);

    const auto erases = OfCode(log, CMD_ERASE);
    ASSERT_EQ(erases.size(), 1u);
    EXPECT_EQ(erases[0].address, 0x18000u);
    EXPECT_EQ(erases[0].length, 0xE8000u);
    std::vector<std::uint32_t> blocks;
    for (std::uint32_t k = 0; k < 58; ++k) blocks.push_back(0x18000 + k * kBlockSize);
    EXPECT_EQ(Addresses(OfCode(log, CMD_WRITE)), blocks);
    // File offset = flash address; nothing below the address is touched.
    const SimVerifyReport report = VerifyChannel(*line, kCh);
    EXPECT_TRUE(report.ok) << report.text;
    EXPECT_EQ(report.bytes, 0xE8000u);
    EXPECT_EQ(line->ReadArea(kAmssArea, 0, 0x18000), Bytes(0x18000, 0xFF));
    const auto progress = rec.Progress(kCh);
    ASSERT_EQ(progress.size(), 4u);  // after blocks 16, 32, 48 and at the end
    EXPECT_EQ(progress[0].sent, 16 * kBlockSize);
    EXPECT_EQ(progress.back().sent, 0xE8000);
    EXPECT_EQ(progress.back().size, 0xE8000);
    ExpectChannelEnded(kCh, 1);
}

TEST(ImageTransfer, AmssImageAtAddressZeroIsWrittenWhole) {
    JobGuard guard;
    TempDir dir;
    ASSERT_TRUE(WriteBytes(dir.File("amss.mbn"), Pattern(0x100000, 4)));
    constexpr int kCh = 1;
    Recorder rec;
    Line line = RunSlots(rec, kCh, {{12, dir.File("amss.mbn"), "0"}});
    const auto log = SettledLog(*line);

    const auto erases = OfCode(log, CMD_ERASE);
    ASSERT_EQ(erases.size(), 1u);
    EXPECT_EQ(erases[0].address, 0u);
    EXPECT_EQ(erases[0].length, 0x100000u);
    const auto writes = OfCode(log, CMD_WRITE);
    ASSERT_EQ(writes.size(), 64u);
    EXPECT_EQ(writes.front().address, 0u);
    EXPECT_EQ(writes.back().address, 63u * kBlockSize);
    const SimVerifyReport report = VerifyChannel(*line, kCh);
    EXPECT_TRUE(report.ok) << report.text;
    EXPECT_EQ(report.bytes, 0x100000u);
    ExpectChannelEnded(kCh, 1);
}

// An AMSS file that ends at or before its address has nothing to write: that is an error, not
// an empty success, and nothing is erased.
TEST(ImageTransfer, AmssImageNotLongerThanItsAddressIsRefusedBeforeAnyErase) {
    for (const std::size_t size : {std::size_t{0x18000}, std::size_t{0x100}}) {
        SCOPED_TRACE(size);
        JobGuard guard;
        TempDir dir;
        ASSERT_TRUE(WriteBytes(dir.File("amss.mbn"), Pattern(size, 5)));
        constexpr int kCh = 3;
        Recorder rec;
        Line line = RunSlots(rec, kCh, {{12, dir.File("amss.mbn"), "18000"}});

        EXPECT_EQ(Sequence(SettledLog(*line)), "UNLOCK VERSION INIT_AMSS CLOSE GO");
        EXPECT_EQ(rec.LastText(kCh), "ERR: Image Size");
        EXPECT_EQ(line->ReadArea(kAmssArea, 0, 0x20000), Bytes(0x20000, 0xFF));
        ExpectChannelEnded(kCh, 0);
    }
}

TEST(ImageTransfer, ProgressGoesOutEverySixteenBlocksAndOnceAtTheEnd) {
    JobGuard guard;
    TempDir dir;
    constexpr int kSize = 5 * 1024 * 1024;  // 320 blocks
    ASSERT_TRUE(WriteBytes(dir.File("big.mbn"), Pattern(kSize, 6)));
    constexpr int kCh = 7;
    Recorder rec;
    Line line = RunSlots(rec, kCh, {{11, dir.File("big.mbn"), "0"}});

    const auto progress = rec.Progress(kCh);
    ASSERT_EQ(progress.size(), 21u);
    for (std::size_t i = 0; i < 20; ++i) {
        EXPECT_EQ(progress[i].sent, static_cast<int>((i + 1) * 16 * kBlockSize)) << i;
    }
    for (const ProgressRecord& p : progress) {
        EXPECT_EQ(p.slot, 11);
        EXPECT_EQ(p.size, kSize);
    }
    EXPECT_EQ(progress.back().sent, kSize);
    EXPECT_EQ(rec.LastText(kCh), "Download Complete! [0 sec]");
    EXPECT_TRUE(VerifyChannel(*line, kCh).ok);
    ExpectChannelEnded(kCh, 1);
}
