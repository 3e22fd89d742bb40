// Loopback ports: the station's end is opened by name, the test holds the peer's descriptor.
#include "transport/loopback_port.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <thread>
#include <vector>

#include "support/pty_pair.h"
#include "transport/serial_device.h"
#include "transport/unique_fd.h"
#include "transport_test_util.h"

namespace {

using namespace std::chrono_literals;
using transport_test::ReadFromStation;

std::vector<std::uint8_t> ReadPeer(int fd, std::size_t count) {
    std::vector<std::uint8_t> got(count);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::recv(fd, got.data() + done, count - done, 0);
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    got.resize(done);
    return got;
}

class LoopbackTest : public ::testing::Test {
protected:
    void SetUp() override {
        peer_.reset(LOOPBACK_Create("bench"));
        ASSERT_TRUE(peer_);
    }
    void TearDown() override {
        LOOPBACK_Remove("bench");
        SERIAL_DEVICE_SetTimeBounds(0, 0);
    }

    UniqueFd peer_;
};

TEST_F(LoopbackTest, BytesTravelBothWaysUnaltered) {
    SerialHandle port = transport_test::OpenPath(0, "loop:bench", 1382400);
    ASSERT_TRUE(port);
    EXPECT_GE(port->PollFd(), 0);
    std::array<std::uint8_t, 16> area{};
    EXPECT_EQ(SERIAL_DEVICE_Read(0, port.get(), area, 0, 16), 0);

    const std::vector<std::uint8_t> bytes = AllByteValues(64 * 1024);
    std::vector<std::uint8_t> atPeer;
    std::thread reader([&] { atPeer = ReadPeer(peer_.get(), bytes.size()); });
    EXPECT_EQ(SERIAL_DEVICE_Write(0, port.get(), bytes, 0, static_cast<int>(bytes.size())),
              static_cast<int>(bytes.size()));
    reader.join();
    EXPECT_EQ(atPeer, bytes);

    std::thread writer([&] { ::send(peer_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL); });
    EXPECT_EQ(ReadFromStation(0, port.get(), bytes.size()), bytes);
    writer.join();
    SERIAL_DEVICE_Close(0, std::move(port));
}

TEST_F(LoopbackTest, ReadTakesAtMostMaxLengthAndLeavesTheRestQueued) {
    SerialHandle port = transport_test::OpenPath(0, "loop:bench", 1382400);
    ASSERT_TRUE(port);
    const std::vector<std::uint8_t> bytes = AllByteValues(6000);
    ASSERT_EQ(::send(peer_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL), 6000);
    std::array<std::uint8_t, 8192> area{};
    ASSERT_EQ(SERIAL_DEVICE_Read(0, port.get(), area, 0, kSerialQueueSize), kSerialQueueSize);
    EXPECT_TRUE(std::equal(area.begin(), area.begin() + kSerialQueueSize, bytes.begin()));
    ASSERT_EQ(SERIAL_DEVICE_Read(0, port.get(), area, 0, kSerialQueueSize),
              6000 - kSerialQueueSize);
    EXPECT_TRUE(std::equal(area.begin(), area.begin() + (6000 - kSerialQueueSize),
                           bytes.begin() + kSerialQueueSize));
    EXPECT_EQ(SERIAL_DEVICE_Read(0, port.get(), area, 0, kSerialQueueSize), 0);
    SERIAL_DEVICE_Close(0, std::move(port));
}

TEST_F(LoopbackTest, UnplugFailsReadsAfterTheQueuedBytes) {
    SerialHandle port = transport_test::OpenPath(0, "loop:bench", 1382400);
    ASSERT_TRUE(port);
    const std::array<std::uint8_t, 5> last = {1, 2, 3, 4, 5};
    ASSERT_EQ(::send(peer_.get(), last.data(), last.size(), MSG_NOSIGNAL), 5);
    peer_.reset();

    std::array<std::uint8_t, 16> area{};
    EXPECT_EQ(port->WaitReadable(1s), 1);
    EXPECT_EQ(SERIAL_DEVICE_Read(0, port.get(), area, 0, 16), 5);
    EXPECT_EQ(SERIAL_DEVICE_Read(0, port.get(), area, 0, 16), -1);
    // Writing into the unplugged pair fails; it must not raise SIGPIPE.
    EXPECT_EQ(SERIAL_DEVICE_Write(0, port.get(), area, 0, 16), -1);
    SERIAL_DEVICE_Close(0, std::move(port));
}

TEST_F(LoopbackTest, EachOpenHasItsOwnEndAndRemovalStopsNewOpens) {
    SerialHandle first = LOOPBACK_Open("bench");
    SerialHandle second = LOOPBACK_Open("bench");
    ASSERT_TRUE(first && second);
    EXPECT_NE(first->PollFd(), second->PollFd());
    first->Close();
    first.reset();

    LOOPBACK_Remove("bench");
    EXPECT_FALSE(transport_test::OpenPath(3, "loop:bench", 1382400));
    EXPECT_EQ(transport_test::Why(3), "no such device");

    // The port still open works on after the name is gone.
    const std::array<std::uint8_t, 3> bytes = {0x7E, 0x11, 0x13};
    EXPECT_EQ(SERIAL_DEVICE_Write(0, second.get(), bytes, 0, 3), 3);
    EXPECT_EQ(ReadPeer(peer_.get(), 3), std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
}

TEST_F(LoopbackTest, WriteToAPeerThatDoesNotReadIsBounded) {
    SERIAL_DEVICE_SetTimeBounds(30, 0);
    SerialHandle port = transport_test::OpenPath(0, "loop:bench", 1382400);
    ASSERT_TRUE(port);
    const std::vector<std::uint8_t> bytes = AllByteValues(16 * 1024 * 1024);
    const auto start = std::chrono::steady_clock::now();
    const int n = SERIAL_DEVICE_Write(0, port.get(), bytes, 0, static_cast<int>(bytes.size()));
    EXPECT_GT(n, 0);
    EXPECT_LT(n, static_cast<int>(bytes.size()));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}

TEST(LoopbackNames, UnknownOrEmptyNamesFail) {
    EXPECT_EQ(LOOPBACK_Create(""), -1);
    EXPECT_FALSE(LOOPBACK_Open("nobody"));
    EXPECT_FALSE(transport_test::OpenPath(1, "loop:nobody", 1382400));
    EXPECT_EQ(transport_test::Why(1), "no such device");
}

}  // namespace
