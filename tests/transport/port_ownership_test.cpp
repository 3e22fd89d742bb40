// Port ownership across channels: a close that has to wait for its output to leave (a handset
// holding flow control) never holds up another channel's open, and a rounded bit rate that a
// driver reports is taken within a UART's tolerance.
#include <gtest/gtest.h>

#include <condition_variable>
#include <future>
#include <mutex>

#include "support/pty_pair.h"
#include "transport/port_table.h"
#include "transport/serial_device.h"
#include "transport/serial_port.h"
#include "transport/serial_speed_posix.h"

namespace {

using namespace std::chrono_literals;
constexpr int kBaud = 1382400;

// A port whose close waits until released: the drain of a line held by flow control.
class HeldDrainPort : public PortDevice {
public:
    int Read(std::span<std::uint8_t>) override { return 0; }
    int Write(std::span<const std::uint8_t> bytes) override {
        return static_cast<int>(bytes.size());
    }
    int WaitReadable(std::chrono::milliseconds) override { return 0; }
    void Close() override {
        std::unique_lock lock(mu_);
        closing_ = true;
        changed_.notify_all();
        changed_.wait(lock, [this] { return released_; });
    }
    void WaitClosing() {
        std::unique_lock lock(mu_);
        changed_.wait(lock, [this] { return closing_; });
    }
    void Release() {
        std::lock_guard lock(mu_);
        released_ = true;
        changed_.notify_all();
    }

private:
    std::mutex mu_;
    std::condition_variable changed_;
    bool closing_ = false;
    bool released_ = false;
};

}  // namespace

TEST(PortOwnership, AClosingPortWaitingOnItsDrainDoesNotHoldUpAnotherChannelsOpen) {
    auto held = std::make_shared<HeldDrainPort>();
    {
        std::lock_guard lock(SERIAL_PORT_Mutex());
        g_hSerialDevice.Set(1, held);
    }
    std::thread closer([] { SERIAL_PORT_Close(1); });
    held->WaitClosing();

    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    const int port = PORTTABLE_Assign(pty.slavePath());
    ASSERT_EQ(SERIAL_PORT_Start(2, port, kBaud), 1);
    auto opened = std::async(std::launch::async, [] { return SERIAL_PORT_Open(2); });
    const bool inTime = opened.wait_for(2s) == std::future_status::ready;
    held->Release();
    closer.join();
    ASSERT_TRUE(inTime) << "the open waited for another channel's drain";
    EXPECT_EQ(opened.get(), 1);
    EXPECT_FALSE(g_hSerialDevice.IsOpen(1));
    SERIAL_PORT_Close(2);
    g_nComPort[2] = 0;
    g_nChannelBaud[2] = 0;
}

namespace {
int g_reportedRate = 0;
int ReportedRate(int) {
    return g_reportedRate;
}
}  // namespace

TEST(PortOwnership, ADriversRoundedBitRateIsTakenWithinTwoAndAHalfPerCent) {
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    SERIAL_POSIX_SetSpeedReadBack(&ReportedRate);
    // A USB adapter whose divisor gives 1.4 Mbaud for 1382400 (1.3% off): a UART takes it.
    g_reportedRate = 1400000;
    SerialOpenFailure failure;
    SerialHandle port = SERIAL_DEVICE_OpenPath(0, pty.slavePath(), kBaud, &failure);
    EXPECT_TRUE(port) << failure.reason;
    SERIAL_DEVICE_Close(0, std::move(port));
    // A driver that fell back to 115200 is refused, naming both rates.
    g_reportedRate = 115200;
    failure = {};
    EXPECT_FALSE(SERIAL_DEVICE_OpenPath(0, pty.slavePath(), kBaud, &failure));
    EXPECT_EQ(failure.reason, "bit rate 1382400 refused (driver set 115200)");
    EXPECT_EQ(failure.stage, SerialOpenStage::kSettings);
    SERIAL_POSIX_SetSpeedReadBack(nullptr);

    EXPECT_TRUE(SERIAL_SpeedWithinTolerance(1382400, 1382400 + 34560));
    EXPECT_FALSE(SERIAL_SpeedWithinTolerance(1382400, 1382400 + 34561));
    EXPECT_TRUE(SERIAL_SpeedWithinTolerance(1382400, 1382400 - 34560));
    EXPECT_FALSE(SERIAL_SpeedWithinTolerance(1382400, 0));
}
