// The Win32 serial device on a real COM port whose far end sends back every byte. scripts/windows
// runs these under wine with PELOR_TEST_COM=COMn, where COMn is a pseudo-terminal of pty_echo
// (a dosdevices link comn -> /dev/pts/M); without the variable they are skipped.
//
// Where wine differs from Windows the tests say so rather than weaken the device code:
//   - a second CreateFileA of an open COM port succeeds under wine; Windows refuses it;
//   - EscapeCommFunction CLRDTR/CLRRTS fail on a pseudo-terminal (no modem lines); the close
//     does not depend on their result;
//   - SetCommState takes 1382400 but GetCommState reads 38400 back; the open only looks at
//     SetCommState's result, as it must, so the port opens;
//   - every overlapped ReadFile reports ERROR_IO_PENDING, even for bytes already queued; the
//     read waits for them (bounded) and returns them.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "support/pty_pair.h"
#include "transport/channel_wake.h"
#include "transport/port_table.h"
#include "transport/serial_device.h"
#include "transport/transport_test_util.h"

namespace {

using Clock = std::chrono::steady_clock;
using transport_test::ReadFromStation;

constexpr int kBaud = 1382400;

bool UnderWine() {
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// n of PELOR_TEST_COM=COMn, or 0.
int EchoPort() {
    const char* text = std::getenv("PELOR_TEST_COM");
    if (text == nullptr || std::strncmp(text, "COM", 3) != 0) return 0;
    return std::atoi(text + 3);
}

class ComPort : public ::testing::Test {
protected:
    void SetUp() override {
        port_ = EchoPort();
        if (port_ == 0) GTEST_SKIP() << "PELOR_TEST_COM=COMn names no echoing port";
        SERIAL_DEVICE_SetTimeBounds(0, 0);
    }

    // Writes everything, as the frame sender's callers would over several writes.
    static std::size_t WriteAll(PortDevice* h, const std::vector<std::uint8_t>& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const int n = SERIAL_DEVICE_Write(0, h, bytes, static_cast<int>(done),
                                              static_cast<int>(bytes.size() - done));
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        return done;
    }

    int port_ = 0;
};

TEST_F(ComPort, OpensAtTheStationBitRateAndEchoesEveryByteValue) {
    SerialHandle h = transport_test::Open(0, port_, kBaud);  // wine reads 38400 back: no matter
    ASSERT_NE(h, nullptr) << transport_test::Why(0);
    EXPECT_EQ(transport_test::Why(0), "");
    const std::vector<std::uint8_t> bytes = AllByteValues(4096);
    ASSERT_EQ(WriteAll(h.get(), bytes), bytes.size());
    EXPECT_EQ(ReadFromStation(0, h.get(), bytes.size()), bytes);
    SERIAL_DEVICE_Close(0, h);
}

TEST_F(ComPort, ReadTakesNoMoreThanAskedAndNeverWaits) {
    SerialHandle h = transport_test::Open(0, port_, kBaud);
    ASSERT_NE(h, nullptr) << transport_test::Why(0);
    std::array<std::uint8_t, 64> area{};

    const auto start = Clock::now();
    EXPECT_EQ(SERIAL_DEVICE_Read(0, h.get(), area, 0, static_cast<int>(area.size())), 0);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500));

    const std::vector<std::uint8_t> bytes = AllByteValues(100);
    ASSERT_EQ(WriteAll(h.get(), bytes), bytes.size());
    std::vector<std::uint8_t> got;
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (got.size() < bytes.size() && Clock::now() < deadline) {
        const int n = SERIAL_DEVICE_Read(0, h.get(), area, 3, 10);
        ASSERT_GE(n, 0);
        ASSERT_LE(n, 10);
        if (n == 0) {
            h->WaitReadable(std::chrono::milliseconds(10));
            continue;
        }
        got.insert(got.end(), area.begin() + 3, area.begin() + 3 + n);
    }
    EXPECT_EQ(got, bytes);  // what was not taken stayed queued, in order
    SERIAL_DEVICE_Close(0, h);
}

TEST_F(ComPort, BlocksOfAnImageGoOutWhileTheAnswersAreRead) {
    SerialHandle h = transport_test::Open(0, port_, kBaud);
    ASSERT_NE(h, nullptr) << transport_test::Why(0);
    const std::vector<std::uint8_t> image = AllByteValues(64 * 1024 + 7);
    std::vector<std::uint8_t> got;
    std::array<std::uint8_t, kSerialQueueSize> area{};
    // As the station's worker does: write a block, then take what has come back.
    for (std::size_t at = 0; at < image.size(); at += 2048) {
        const std::vector<std::uint8_t> block(
            image.begin() + static_cast<std::ptrdiff_t>(at),
            image.begin() + static_cast<std::ptrdiff_t>(std::min(image.size(), at + 2048)));
        ASSERT_EQ(WriteAll(h.get(), block), block.size()) << "at " << at;
        for (int n; (n = SERIAL_DEVICE_Read(0, h.get(), area, 0, kSerialQueueSize)) > 0;) {
            got.insert(got.end(), area.begin(), area.begin() + n);
        }
    }
    const std::vector<std::uint8_t> rest = ReadFromStation(0, h.get(), image.size() - got.size());
    got.insert(got.end(), rest.begin(), rest.end());
    EXPECT_EQ(got, image);
    SERIAL_DEVICE_Close(0, h);
}

TEST_F(ComPort, AClosedPortOpensAgainAndItsOldHandleIsDead) {
    SerialHandle first = transport_test::Open(1, port_, kBaud);
    ASSERT_NE(first, nullptr) << transport_test::Why(1);
    SERIAL_DEVICE_Close(1, first);  // CLRDTR/CLRRTS fail on a pseudo-terminal: not a failure
    std::array<std::uint8_t, 8> area{};
    EXPECT_EQ(SERIAL_DEVICE_Read(1, first.get(), area, 0, 8), -1);
    EXPECT_EQ(SERIAL_DEVICE_Write(1, first.get(), area, 0, 8), -1);
    first.reset();

    SerialHandle again = transport_test::Open(1, port_, kBaud);
    ASSERT_NE(again, nullptr) << transport_test::Why(1);
    const std::vector<std::uint8_t> bytes = AllByteValues(300);
    ASSERT_EQ(WriteAll(again.get(), bytes), bytes.size());
    EXPECT_EQ(ReadFromStation(1, again.get(), bytes.size()), bytes);
    SERIAL_DEVICE_Close(1, again);
    SERIAL_DEVICE_Close(1, nullptr);  // a null handle is accepted
}

TEST_F(ComPort, APortHeldByAnotherOpenIsRefusedAsBusy) {
    if (UnderWine()) GTEST_SKIP() << "wine lets a second CreateFileA open a COM port";
    SerialHandle held = transport_test::Open(0, port_, kBaud);
    ASSERT_NE(held, nullptr) << transport_test::Why(0);
    EXPECT_EQ(transport_test::Open(1, port_, kBaud), nullptr);
    EXPECT_EQ(transport_test::Why(1), "busy: held by another program");
    SERIAL_DEVICE_Close(0, held);
}

TEST_F(ComPort, TheScanListsThePort) {
    const std::vector<std::string> found = PORTTABLE_ScanDevices();
    const std::string name = "\\\\.\\COM" + std::to_string(port_);
    EXPECT_NE(std::find(found.begin(), found.end(), name), found.end()) << name;
}

TEST(ComPortAbsent, AnAbsentPortFailsAsNoSuchDevice) {
    const int absent = kMaxPortNumber;  // no COM port has this number here
    EXPECT_EQ(transport_test::Open(2, absent, kBaud), nullptr);
    EXPECT_EQ(transport_test::Why(2), "no such device");
    EXPECT_EQ(transport_test::OpenPath(2, "\\\\.\\COMX", kBaud), nullptr);
    // The loopback ports are a POSIX facility.
    EXPECT_EQ(transport_test::OpenPath(2, "loop:nothing", kBaud), nullptr);
}

TEST(ChannelWake, ASignalEndsTheWaitAtOnceUntilCleared) {
    CHANNEL_WAKE_Clear(3);
    auto start = Clock::now();
    CHANNEL_WAKE_Wait(3, -1, 30'000);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(25));  // the time ran out

    CHANNEL_WAKE_Signal(3);
    start = Clock::now();
    CHANNEL_WAKE_Wait(3, -1, 10'000'000);
    CHANNEL_WAKE_Wait(3, -1, 10'000'000);  // still set: no wait either
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));

    // Set from another thread while a wait runs, it ends that wait; other channels stay asleep.
    CHANNEL_WAKE_Clear(3);
    std::thread waker([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        CHANNEL_WAKE_Signal(3);
    });
    start = Clock::now();
    CHANNEL_WAKE_Wait(3, -1, 10'000'000);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    waker.join();
    CHANNEL_WAKE_Clear(3);

    start = Clock::now();
    CHANNEL_WAKE_Wait(4, -1, 20'000);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(15));
    CHANNEL_WAKE_Wait(99, -1, 10'000'000);  // no such channel: returns at once
}

}  // namespace
