#include "sim/uart_pacer.h"

#include <gtest/gtest.h>

namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;
using Clock = UartPacer::Clock;

TEST(UartPacer, WithoutABitRateEverythingPassesAtOnce) {
    UartPacer pacer(0);
    EXPECT_FALSE(pacer.Enabled());
    EXPECT_EQ(pacer.Take(100000, Clock::now()), 100000u);
    EXPECT_EQ(pacer.UntilReady(100000, Clock::now()), microseconds(0));
}

TEST(UartPacer, ABusyLineCarriesATenthOfItsBitRateInBytesPerSecond) {
    UartPacer pacer(115200);
    EXPECT_EQ(pacer.LineTime(11520), std::chrono::seconds(1));
    const Clock::time_point start = Clock::now();
    std::size_t total = 0;
    for (int ms = 0; ms <= 1000; ++ms) total += pacer.Take(1 << 20, start + milliseconds(ms));
    // One second of line time plus what an idle line starts with.
    EXPECT_GE(total, 11520u);
    EXPECT_LE(total, 11520u + pacer.Cap());
}

TEST(UartPacer, AnIdleLineBanksOnlyFourBursts) {
    UartPacer pacer(1382400);
    EXPECT_EQ(pacer.Burst(), 276u);  // two milliseconds' worth
    EXPECT_EQ(pacer.Cap(), 4 * 276u);
    const Clock::time_point t = Clock::now();
    EXPECT_EQ(pacer.Take(1 << 20, t), pacer.Cap());
    EXPECT_EQ(pacer.Take(1 << 20, t), 0u);
    EXPECT_EQ(pacer.Take(1 << 20, t + std::chrono::seconds(10)), pacer.Cap());
    // A reader that comes back late within the cap loses no line time.
    const Clock::time_point u = t + std::chrono::seconds(10);
    EXPECT_EQ(pacer.Take(1 << 20, u + milliseconds(5)), 691u);  // 5 ms at 138240 bytes/s
}

TEST(UartPacer, UntilReadyIsTheLineTimeStillOwed) {
    UartPacer pacer(115200);
    const Clock::time_point t = Clock::now();
    pacer.Take(1 << 20, t);  // empties the line
    const microseconds wait = pacer.UntilReady(50, t);
    EXPECT_GE(wait, microseconds(4340));  // 50 bytes at 86.8 us each
    EXPECT_LE(wait, microseconds(4345));
    EXPECT_GE(pacer.Ready(t + wait), 50u);
    // More than the cap is never ready at once; the wait is for the cap.
    EXPECT_EQ(pacer.UntilReady(1000, t), pacer.UntilReady(pacer.Cap(), t));
    // Taking more than is ready leaves the line owing the time.
    pacer.Consume(100, t + wait);
    EXPECT_EQ(pacer.Ready(t + wait), 0u);
    EXPECT_GE(pacer.UntilReady(1, t + wait), microseconds(4340));
}

}  // namespace
