#include "sim/sim_flash.h"

#include <gtest/gtest.h>

#include "support/sim_frames.h"

namespace {

constexpr std::uint8_t kInitPbl = 0x71;
constexpr std::uint8_t kInitAmss = 0x77;

TEST(SimSpace, UnwrittenBytesReadAsErasedFlash) {
    SimSpace space;
    SimBytes out(10, 0);
    space.Read(0x12345, out);
    EXPECT_EQ(out, SimBytes(10, 0xFF));
    EXPECT_FALSE(space.Holds(0x12345));
}

TEST(SimSpace, WritesAcrossPageBoundariesReadBackWhole) {
    SimSpace space;
    const SimBytes data = SimPattern(3 * kSimPageSize, 9);
    ASSERT_EQ(space.Write(kSimPageSize - 5, data), 1);
    SimBytes out(data.size() + 10);
    space.Read(kSimPageSize - 10, out);
    EXPECT_EQ(SimBytes(out.begin(), out.begin() + 5), SimBytes(5, 0xFF));
    EXPECT_EQ(SimBytes(out.begin() + 5, out.end() - 5), data);
    EXPECT_EQ(SimBytes(out.end() - 5, out.end()), SimBytes(5, 0xFF));
    EXPECT_EQ(space.PageCount(), 4u);
}

TEST(SimSpace, EraseDropsWholePagesAndFillsPartialOnes) {
    SimSpace space;
    ASSERT_EQ(space.Write(0, SimBytes(4 * kSimPageSize, 0x00)), 1);
    ASSERT_EQ(space.Erase(100, 2 * kSimPageSize), 1);  // ends 100 bytes into page 2
    EXPECT_EQ(space.PageCount(), 3u);                  // page 1 is gone
    SimBytes out(2 * kSimPageSize + 2);
    space.Read(99, out);
    EXPECT_EQ(out.front(), 0x00);
    EXPECT_EQ(SimBytes(out.begin() + 1, out.end() - 1), SimBytes(2 * kSimPageSize, 0xFF));
    EXPECT_EQ(out.back(), 0x00);
}

TEST(SimSpace, ErasingTheWholeAddressSpaceCostsNothingAndOverrunsAreRefused) {
    SimSpace space;
    ASSERT_EQ(space.Write(0xFFFFFFFF, SimBytes{0x12}), 1);
    EXPECT_EQ(space.Write(0xFFFFFFFF, SimBytes{0x12, 0x34}), 0);
    EXPECT_EQ(space.Erase(2, 0xFFFFFFFF), 0);
    EXPECT_EQ(space.Erase(0, std::uint64_t{1} << 32), 1);
    EXPECT_TRUE(space.Empty());
}

TEST(SimFlashVerify, MatchingImagesAreVerified) {
    SimFlash flash;
    const SimBytes amss = SimPattern(40000, 1), fs = SimPattern(1000, 2);
    flash.Area(kInitAmss).Write(0x18000, amss);
    flash.Area(kSimAreaFs).Write(0, fs);
    const std::vector<SimExpectedImage> images = {{kInitAmss, 0x18000, amss}, {kSimAreaFs, 0, fs}};
    const SimVerifyReport report = flash.Verify(images);
    EXPECT_TRUE(report.ok);
    EXPECT_EQ(report.images, 2);
    EXPECT_EQ(report.bytes, 41000u);
    EXPECT_EQ(report.text, "verified 2 images, 41000 bytes");
}

TEST(SimFlashVerify, TheFirstDifferingByteIsReported) {
    SimFlash flash;
    SimBytes amss = SimPattern(40000, 1);
    flash.Area(kInitAmss).Write(0x18000, amss);
    amss[20001] ^= 0x5A;
    const SimVerifyReport report = flash.Verify({{{kInitAmss, 0x18000, amss}}});
    EXPECT_FALSE(report.ok);
    EXPECT_EQ(report.image, 0);
    EXPECT_EQ(report.area, kInitAmss);
    EXPECT_EQ(report.address, 0x18000u + 20001);
    EXPECT_EQ(report.expected, amss[20001]);
    EXPECT_EQ(report.actual, amss[20001] ^ 0x5A);
    EXPECT_FALSE(report.missing);
    EXPECT_NE(report.text.find("INIT_AMSS at 0x0001CE21"), std::string::npos) << report.text;
}

TEST(SimFlashVerify, BlocksNeverWrittenAreReportedMissing) {
    SimFlash flash;
    const SimBytes image = SimPattern(3 * kSimPageSize, 3);
    // The middle block never arrived.
    flash.Area(kInitPbl).Write(0, std::span(image).first(kSimPageSize));
    flash.Area(kInitPbl).Write(2 * kSimPageSize, std::span(image).subspan(2 * kSimPageSize));
    SimVerifyReport report = flash.Verify({{{kInitPbl, 0, image}}});
    EXPECT_FALSE(report.ok);
    EXPECT_EQ(report.address, kSimPageSize);
    EXPECT_EQ(report.actual, 0xFF);
    EXPECT_TRUE(report.missing);
    EXPECT_NE(report.text.find("(never written)"), std::string::npos) << report.text;

    report = flash.Verify({{{kSimAreaBackup, 0, SimBytes{1}}}});  // an area never touched
    EXPECT_FALSE(report.ok);
    EXPECT_TRUE(report.missing);
    EXPECT_NE(report.text.find("BACKUP"), std::string::npos);
    // An image of erased bytes over nothing matches: erased flash reads 0xFF.
    EXPECT_TRUE(flash.Verify({{{kInitAmss, 0, SimBytes(10, 0xFF)}}}).ok);
}

TEST(SimFlashVerify, AnImageRunningPastTheAddressSpaceFails) {
    SimFlash flash;
    flash.Area(kInitAmss).Write(0xFFFFFFFE, SimBytes{0xFF, 0xFF});
    const SimVerifyReport report = flash.Verify({{{kInitAmss, 0xFFFFFFFE, SimBytes(4, 0xFF)}}});
    EXPECT_FALSE(report.ok);
    EXPECT_EQ(report.actual, -1);
}

}  // namespace
