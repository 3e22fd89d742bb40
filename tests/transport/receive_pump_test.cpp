// The receive pump and the write wrapper of a channel: what the pump reads goes to the sink the
// layer above registered (and nowhere without one), a dead port ends the channel's waits, and a
// write pauses the delay the run gave.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <array>
#include <mutex>
#include <vector>

#include "transport/loopback_port.h"
#include "transport/serial_port.h"
#include "transport/unique_fd.h"

namespace {

constexpr int kCh = 2;

std::vector<std::uint8_t> g_received;  // touched by the test's thread only
int Record(int channel, std::span<const std::uint8_t> bytes) {
    EXPECT_EQ(channel, kCh);
    g_received.insert(g_received.end(), bytes.begin(), bytes.end());
    return static_cast<int>(bytes.size());
}

std::vector<int> g_pauses;
void RecordPause(int, int milliseconds) {
    g_pauses.push_back(milliseconds);
}

class ReceivePump : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = SERIAL_PORT_Bind(&ports_);
        peer_.reset(LOOPBACK_Create("pump"));
        ASSERT_TRUE(peer_);
        SerialHandle port = SERIAL_DEVICE_OpenPath(kCh, "loop:pump", 1382400);
        ASSERT_TRUE(port);
        std::lock_guard lock(SERIAL_PORT_Mutex());
        g_hSerialDevice.Set(kCh, std::move(port));
        g_received.clear();
        g_pauses.clear();
    }
    void TearDown() override {
        SERIAL_PORT_Close(kCh);
        LOOPBACK_Remove("pump");
        SERIAL_PORT_Bind(previous_);
    }
    StationPorts ports_;  // the test's own ports, bound to its thread
    StationPorts* previous_ = nullptr;
    void Send(std::vector<std::uint8_t> bytes) {
        ASSERT_EQ(::send(peer_.get(), bytes.data(), bytes.size(), 0),
                  static_cast<ssize_t>(bytes.size()));
    }
    // Pumps until count bytes were handed on (or the pump fails).
    int PumpFor(std::size_t count) {
        int total = 0;
        for (int pass = 0; pass < 2000 && static_cast<std::size_t>(total) < count; ++pass) {
            const int n = SERIAL_PORT_DoReading(kCh);
            if (n < 0) return n;
            total += n;
            if (n == 0) SERIAL_PORT_WaitPass(kCh, 1000);
        }
        return total;
    }
    UniqueFd peer_;
};

TEST_F(ReceivePump, HandsWhatItReadsToTheRegisteredSinkAndDropsItWithoutOne) {
    SERIAL_PORT_SetReceiveSink(kCh, &Record);
    Send({0x7E, 0x01, 0x02, 0x7E});
    EXPECT_EQ(PumpFor(4), 4);
    EXPECT_EQ(g_received, (std::vector<std::uint8_t>{0x7E, 0x01, 0x02, 0x7E}));

    SERIAL_PORT_SetReceiveSink(kCh, nullptr);
    Send({0x55, 0x66});
    EXPECT_EQ(PumpFor(2), 2);  // read, counted, and given to no one
    EXPECT_EQ(g_received.size(), 4u);
    EXPECT_EQ(SERIAL_PORT_IsGone(kCh), 0);
}

TEST_F(ReceivePump, APeerThatHangsUpClosesThePortAndMarksItGone) {
    SERIAL_PORT_SetReceiveSink(kCh, &Record);
    Send({0x11});
    peer_.reset();
    EXPECT_EQ(PumpFor(2), -1);
    EXPECT_EQ(g_received, (std::vector<std::uint8_t>{0x11}));  // what came before still counts
    EXPECT_EQ(SERIAL_PORT_IsGone(kCh), 1);
    EXPECT_FALSE(g_hSerialDevice.IsOpen(kCh));
}

TEST_F(ReceivePump, EveryWritePausesTheDelayTheRunGave) {
    SERIAL_PORT_SetDelay(&RecordPause);
    const std::array<std::uint8_t, 2> bytes = {0x7E, 0x7E};
    EXPECT_EQ(SERIAL_PORT_WriteDelay(), kDefaultWriteDelayMs);
    EXPECT_EQ(SERIAL_PORT_Write(kCh, bytes, 0, 2), 2);
    SERIAL_PORT_SetWriteDelay(7);
    EXPECT_EQ(SERIAL_PORT_Write(kCh, bytes, 0, 2), 2);
    SERIAL_PORT_SetWriteDelay(-3);  // no negative pause
    EXPECT_EQ(SERIAL_PORT_Write(kCh, bytes, 0, 2), 2);
    EXPECT_EQ(g_pauses, (std::vector<int>{kDefaultWriteDelayMs, 7, 0}));
}

}  // namespace
