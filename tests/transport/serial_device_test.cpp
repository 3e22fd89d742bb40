// The serial device over real pseudo-terminals: the station opens the slave by its path as it
// would a serial port, the test plays the handset on the master side.
#include "transport/serial_device.h"

#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <fstream>
#include <thread>
#include <vector>

#include "support/pty_pair.h"
#include "transport/port_table.h"
#include "transport/serial_speed_posix.h"
#include "transport/trace.h"
#include "transport_test_util.h"

namespace {

using namespace std::chrono_literals;
using transport_test::ReadFromStation;

constexpr int kBaud = 1382400;

class SerialDeviceTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(pty_.ok()); }
    void TearDown() override { SERIAL_DEVICE_SetTimeBounds(0, 0); }

    SerialHandle OpenStation(int channel = 0) {
        return transport_test::OpenPath(channel, pty_.slavePath(), kBaud);
    }

    PtyPair pty_;
};

// Waits until the station's tty counts at least n bytes queued.
bool WaitQueued(int fd, int n) {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (std::chrono::steady_clock::now() < deadline) {
        int queued = 0;
        if (::ioctl(fd, FIONREAD, &queued) == 0 && queued >= n) return true;
        std::this_thread::sleep_for(1ms);
    }
    return false;
}

TEST_F(SerialDeviceTest, OpensAtTheExactNonStandardRateAsARawLine) {
    SerialHandle port = OpenStation();
    ASSERT_TRUE(port) << transport_test::Why(0);
    EXPECT_EQ(transport_test::Why(0), "");
    EXPECT_EQ(SERIAL_POSIX_GetSpeed(port->PollFd()), kBaud);

    termios tio{};
    ASSERT_EQ(::tcgetattr(port->PollFd(), &tio), 0);
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB), 0u);
    EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | IXANY | ICRNL | INLCR | IGNCR | ISTRIP), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
    EXPECT_EQ(tio.c_lflag & (ECHO | ICANON | ISIG | IEXTEN), 0u);
    EXPECT_EQ(tio.c_cc[VMIN], 0);
    EXPECT_EQ(tio.c_cc[VTIME], 0);
    SERIAL_DEVICE_Close(0, std::move(port));
}

TEST_F(SerialDeviceTest, SecondOpenIsBusyUntilTheFirstCloses) {
    SerialHandle first = OpenStation(0);
    ASSERT_TRUE(first);
    EXPECT_FALSE(OpenStation(1));
    EXPECT_EQ(transport_test::Why(1), "busy: held by another program");

    SERIAL_DEVICE_Close(0, std::move(first));
    SerialHandle again = OpenStation(1);
    EXPECT_TRUE(again) << transport_test::Why(1);
    EXPECT_EQ(transport_test::Why(1), "");
    SERIAL_DEVICE_Close(1, std::move(again));
}

TEST_F(SerialDeviceTest, OpenFromAnotherProcessIsBusyWhileHeld) {
    auto openInChild = [this]() {
        const pid_t pid = ::fork();
        if (pid == 0) _exit(transport_test::OpenPath(0, pty_.slavePath(), kBaud) ? 0 : 3);
        int status = -1;
        ::waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    SerialHandle port = OpenStation();
    ASSERT_TRUE(port);
    EXPECT_EQ(openInChild(), 3);
    SERIAL_DEVICE_Close(0, std::move(port));
    EXPECT_EQ(openInChild(), 0);
}

TEST_F(SerialDeviceTest, OpenFailuresSayWhy) {
    EXPECT_FALSE(transport_test::OpenPath(2, "/dev/pelor-no-such-tty", kBaud));
    EXPECT_EQ(transport_test::Why(2), "no such device");

    PORTTABLE_Set(kMaxPortNumber, "");
    EXPECT_FALSE(transport_test::Open(3, kMaxPortNumber, kBaud));
    EXPECT_EQ(transport_test::Why(3), "no such device");

    transport_test::TempDir dir;
    const std::string plainFile = dir.File("not-a-tty");
    std::ofstream(plainFile) << "x";
    EXPECT_FALSE(transport_test::OpenPath(4, plainFile, kBaud));
    EXPECT_EQ(transport_test::Why(4), "not a serial port");

    EXPECT_FALSE(transport_test::OpenPath(5, pty_.slavePath(), 0));
    EXPECT_EQ(transport_test::Why(5), "bit rate 0 refused");
    // The refused open left the port free.
    SerialHandle port = OpenStation(5);
    EXPECT_TRUE(port);
    EXPECT_EQ(transport_test::Why(5), "");
    SERIAL_DEVICE_Close(5, std::move(port));

    EXPECT_FALSE(transport_test::OpenPath(8, pty_.slavePath(), kBaud));  // not a channel
}

TEST_F(SerialDeviceTest, OpenByPortNumberGoesThroughThePortTable) {
    PORTTABLE_Set(42, pty_.slavePath());
    SerialHandle port = transport_test::Open(6, 42, kBaud);
    EXPECT_TRUE(port) << transport_test::Why(6);
    SERIAL_DEVICE_Close(6, std::move(port));
    PORTTABLE_Set(42, "");
}

TEST_F(SerialDeviceTest, ReadNeverWaitsAndIsCappedAtMaxLength) {
    SerialHandle port = OpenStation();
    ASSERT_TRUE(port);
    std::array<std::uint8_t, 8192> area{};
    EXPECT_EQ(SERIAL_DEVICE_Read(0, port.get(), area, 0, kSerialQueueSize), 0);
    EXPECT_EQ(port->WaitReadable(0ms), 0);

    // A tty's line discipline holds 4095 bytes at most, so the cap shows with a smaller
    // maxLength here (the loopback tests show it at 4096).
    const std::vector<std::uint8_t> sent = AllByteValues(6000);
    ASSERT_EQ(pty_.WriteMaster(sent), sent.size());
    ASSERT_TRUE(WaitQueued(port->PollFd(), 2000));
    ASSERT_EQ(SERIAL_DEVICE_Read(0, port.get(), area, 0, 1000), 1000);
    std::vector<std::uint8_t> got(area.begin(), area.begin() + 1000);
    const int n = SERIAL_DEVICE_Read(0, port.get(), area, 0, kSerialQueueSize);
    ASSERT_GT(n, 0);
    EXPECT_LE(n, kSerialQueueSize);
    got.insert(got.end(), area.begin(), area.begin() + n);
    const std::vector<std::uint8_t> rest = ReadFromStation(0, port.get(), sent.size() - got.size());
    got.insert(got.end(), rest.begin(), rest.end());
    EXPECT_EQ(got, sent);
    EXPECT_EQ(SERIAL_DEVICE_Read(0, port.get(), area, 0, kSerialQueueSize), 0);
    SERIAL_DEVICE_Close(0, std::move(port));
}

TEST_F(SerialDeviceTest, ReadAndWriteStayInsideTheBuffer) {
    SerialHandle port = OpenStation();
    ASSERT_TRUE(port);
    const std::vector<std::uint8_t> sent = {1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_EQ(pty_.WriteMaster(sent), sent.size());
    ASSERT_TRUE(WaitQueued(port->PollFd(), 8));

    std::array<std::uint8_t, 8> area{};
    EXPECT_EQ(SERIAL_DEVICE_Read(0, port.get(), area, 9, 4), -1);
    EXPECT_EQ(SERIAL_DEVICE_Read(0, port.get(), area, 8, 4), 0);
    // Asked for more than fits after offset 5: only 3 bytes are stored.
    EXPECT_EQ(SERIAL_DEVICE_Read(0, port.get(), area, 5, kSerialQueueSize), 3);
    EXPECT_EQ(area[5], 1);
    EXPECT_EQ(area[7], 3);

    EXPECT_EQ(SERIAL_DEVICE_Write(0, port.get(), sent, 4, 5), -1);
    EXPECT_EQ(SERIAL_DEVICE_Write(0, port.get(), sent, -1, 1), -1);
    EXPECT_EQ(SERIAL_DEVICE_Write(0, port.get(), sent, 4, 0), 0);
    EXPECT_EQ(SERIAL_DEVICE_Write(0, port.get(), sent, 4, 4), 4);
    EXPECT_EQ(pty_.ReadMaster(4), std::vector<std::uint8_t>({5, 6, 7, 8}));
    EXPECT_EQ(SERIAL_DEVICE_Read(0, nullptr, area, 0, 8), -1);
    EXPECT_EQ(SERIAL_DEVICE_Write(0, nullptr, sent, 0, 8), -1);
    SERIAL_DEVICE_Close(0, std::move(port));
}

TEST_F(SerialDeviceTest, EveryByteValuePassesUnalteredBothWays) {
    SerialHandle port = OpenStation();
    ASSERT_TRUE(port);
    const std::vector<std::uint8_t> bytes = AllByteValues(64 * 1024);

    // Station to handset: XON, XOFF, CR, LF and the flag byte must not be touched.
    std::vector<std::uint8_t> atMaster;
    std::thread reader([&] { atMaster = pty_.ReadMaster(bytes.size()); });
    std::size_t written = 0;
    while (written < bytes.size()) {
        const int n = SERIAL_DEVICE_Write(0, port.get(), bytes, static_cast<int>(written),
                                          static_cast<int>(bytes.size() - written));
        ASSERT_GT(n, 0);
        written += static_cast<std::size_t>(n);
    }
    reader.join();
    EXPECT_EQ(atMaster, bytes);

    // Handset to station.
    std::thread writer([&] { pty_.WriteMaster(bytes); });
    const std::vector<std::uint8_t> atStation = ReadFromStation(0, port.get(), bytes.size());
    writer.join();
    EXPECT_EQ(atStation, bytes);
    SERIAL_DEVICE_Close(0, std::move(port));
}

TEST_F(SerialDeviceTest, WriteToAPeerThatDoesNotReadIsBoundedAndShort) {
    SERIAL_DEVICE_SetTimeBounds(50, 0);
    SerialHandle port = OpenStation();
    ASSERT_TRUE(port);
    const std::vector<std::uint8_t> bytes = AllByteValues(4 * 1024 * 1024);
    const auto start = std::chrono::steady_clock::now();
    const int n = SERIAL_DEVICE_Write(0, port.get(), bytes, 0, static_cast<int>(bytes.size()));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GT(n, 0);
    EXPECT_LT(n, static_cast<int>(bytes.size()));
    EXPECT_GE(took, 50ms);
    EXPECT_LT(took, 2s);
    SERIAL_DEVICE_Close(0, std::move(port));
}

TEST_F(SerialDeviceTest, BytesWrittenJustBeforeCloseStillArrive) {
    SerialHandle port = OpenStation();
    ASSERT_TRUE(port);
    const std::vector<std::uint8_t> bytes = AllByteValues(3000);
    ASSERT_EQ(SERIAL_DEVICE_Write(0, port.get(), bytes, 0, static_cast<int>(bytes.size())),
              static_cast<int>(bytes.size()));
    SERIAL_DEVICE_Close(0, std::move(port));
    EXPECT_EQ(pty_.ReadMaster(bytes.size()), bytes);
}

TEST_F(SerialDeviceTest, HungUpPeerMakesReadsAndWritesFail) {
    SerialHandle port = OpenStation();
    ASSERT_TRUE(port);
    pty_.CloseMaster();
    std::array<std::uint8_t, 16> area{};
    EXPECT_EQ(port->WaitReadable(1s), 1);
    EXPECT_EQ(SERIAL_DEVICE_Read(0, port.get(), area, 0, 16), -1);
    EXPECT_EQ(SERIAL_DEVICE_Write(0, port.get(), area, 0, 16), -1);
    SERIAL_DEVICE_Close(0, std::move(port));
}

TEST_F(SerialDeviceTest, ClosedPortRefusesFurtherUse) {
    SerialHandle port = OpenStation();
    ASSERT_TRUE(port);
    SerialHandle stillHeld = port;  // e.g. a read in flight on another thread
    SERIAL_DEVICE_Close(0, std::move(port));
    std::array<std::uint8_t, 4> area{};
    EXPECT_EQ(SERIAL_DEVICE_Read(0, stillHeld.get(), area, 0, 4), -1);
    EXPECT_EQ(SERIAL_DEVICE_Write(0, stillHeld.get(), area, 0, 4), -1);
    EXPECT_EQ(stillHeld->WaitReadable(1s), 1);
}

TEST_F(SerialDeviceTest, TraceLinesOfOpenReadWriteAndClose) {
    transport_test::TempDir dir;
    const std::string log = dir.File("trace.log");
    ASSERT_EQ(DBG_TraceOpen(log), 1);

    PORTTABLE_Set(7, pty_.slavePath());
    SerialHandle port = transport_test::Open(1, 7, kBaud);
    ASSERT_TRUE(port);
    const std::vector<std::uint8_t> bytes = {0x7E, 0x01, 0x7E};
    SERIAL_DEVICE_Write(1, port.get(), bytes, 0, 3);
    pty_.WriteMaster(bytes);
    ReadFromStation(1, port.get(), 3);
    SERIAL_DEVICE_Close(1, std::move(port));
    SERIAL_DEVICE_Close(1, nullptr);
    transport_test::OpenPath(2, "/dev/pelor-no-such-tty", kBaud);
    const std::string plainFile = dir.File("not-a-tty");
    std::ofstream(plainFile) << "x";
    transport_test::OpenPath(2, plainFile, kBaud);
    DBG_TraceClose();
    PORTTABLE_Set(7, "");

    const std::string text = transport_test::ReadWholeFile(log);
    EXPECT_NE(text.find("SERIAL_DEVICE_Open() COM7, BaudRate:1382400\n"), std::string::npos);
    EXPECT_NE(text.find("dwBytesWritten = 3\n"), std::string::npos);
    EXPECT_NE(text.find("dwLength = "), std::string::npos);
    EXPECT_NE(text.find("[Ch 2] CreateFile(/dev/pelor-no-such-tty) False = 2\n"),
              std::string::npos);
    EXPECT_NE(text.find("[Ch 2] CreateFile(" + plainFile + ") False = 25\n"), std::string::npos);
    std::size_t closes = 0;
    for (std::size_t at = text.find("SERIAL_DEVICE_Close()\n"); at != std::string::npos;
         at = text.find("SERIAL_DEVICE_Close()\n", at + 1)) {
        ++closes;
    }
    EXPECT_EQ(closes, 2u);
}

}  // namespace
