#include "sim/sim_handset.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "link/commands.h"
#include "support/sim_frames.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const std::uint8_t kUnlock = kCommandCodes[CMD_UNLOCK];
const std::uint8_t kInitAmss = kCommandCodes[CMD_INIT_AMSS];
const std::uint8_t kGo = kCommandCodes[CMD_GO];
const std::uint8_t kClose = kCommandCodes[CMD_CLOSE];

// The station's end of a line, with a bound on every wait.
class StationEnd {
public:
    explicit StationEnd(int fd = -1) : fd_(fd) {
        if (fd >= 0) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    int fd() const { return fd_.get(); }

    void Send(std::uint8_t seq, const SimBytes& body) { WriteAll(SimRequestWire(seq, body)); }
    void WriteAll(const SimBytes& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd_.get(), bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
            } else if (n < 0 && errno == EAGAIN) {
                pollfd p{fd_.get(), POLLOUT, 0};
                ::poll(&p, 1, 100);
            } else {
                ADD_FAILURE() << "write failed";
                return;
            }
        }
    }
    // Reads until count reply frames have arrived or bound has passed; returns the bytes.
    SimBytes ReadFrames(std::size_t count, milliseconds bound = milliseconds(5000)) {
        SimBytes got;
        const auto end = Clock::now() + bound;
        while (SimReplyFrames(got).size() < count && Clock::now() < end) {
            pollfd p{fd_.get(), POLLIN, 0};
            ::poll(&p, 1, 20);
            std::uint8_t buf[512];
            const ssize_t n = ::read(fd_.get(), buf, sizeof buf);
            if (n > 0) got.insert(got.end(), buf, buf + n);
            if (n == 0 || (n < 0 && errno != EAGAIN)) break;
        }
        return got;
    }
    // What the next read says after the line went away: 0 (end of stream) or -errno.
    int ReadResult(milliseconds bound = milliseconds(2000)) {
        pollfd p{fd_.get(), POLLIN, 0};
        ::poll(&p, 1, static_cast<int>(bound.count()));
        std::uint8_t b = 0;
        const ssize_t n = ::read(fd_.get(), &b, 1);
        return n < 0 ? -errno : static_cast<int>(n);
    }

private:
    SimFd fd_;
};

struct SocketLine {
    std::unique_ptr<SimHandset> handset;
    StationEnd station;
};

SocketLine StartOnSocket(SimOptions options = {}) {
    int fds[2] = {-1, -1};
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    SocketLine line{SimHandset::StartOnFd(fds[1], std::move(options)), StationEnd(fds[0])};
    EXPECT_NE(line.handset, nullptr);
    return line;
}

// Opens the slave as the station would: raw, no echo, non-blocking reads.
int OpenSlave(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    termios tio{};
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(fd, TCSANOW, &tio);
    return fd;
}

SimOptions WithFaults(std::string_view text) {
    SimOptions options;
    std::string error;
    EXPECT_TRUE(SIM_ParseFaults(text, options.faults, error)) << error;
    return options;
}

// ---- Over a socket pair (the station's loopback port) ----

TEST(SimHandsetSocket, AFullDownloadWithThreeFramesInFlightIsVerified) {
    SocketLine line = StartOnSocket();
    StationEnd& st = line.station;
    st.Send(0, SimBodyCode(kUnlock));
    st.Send(1, SimBodyVersion(DOWNLOADER_VERSION));
    st.Send(2, SimBodyArea(kInitAmss));
    ASSERT_EQ(SimReplyFrames(st.ReadFrames(3)).size(), 3u);

    const SimBytes image = SimPattern(5 * kBlockSize + 1000, 42);
    st.Send(3, SimBodyErase(0x18000, 6 * kBlockSize));
    int seq = 0;
    for (std::size_t at = 0; at < image.size(); at += kBlockSize) {
        // The last block is padded to a full block, as the station sends it.
        SimBytes block(kBlockSize, 0x00);
        std::copy_n(image.begin() + at, std::min<std::size_t>(kBlockSize, image.size() - at),
                    block.begin());
        st.Send(static_cast<std::uint8_t>(seq++ & 3),
                SimBodyWrite(static_cast<std::uint32_t>(0x18000 + at), block));
    }
    st.Send(static_cast<std::uint8_t>(seq++ & 3), SimBodyCode(kClose));
    st.Send(static_cast<std::uint8_t>(seq++ & 3), SimBodyCode(kGo));
    const std::vector<SimBytes> replies = SimReplyFrames(st.ReadFrames(9));
    ASSERT_EQ(replies.size(), 9u);
    for (const SimBytes& r : replies) EXPECT_EQ(r[1], 0x02);

    EXPECT_TRUE(line.handset->Started());
    EXPECT_EQ(line.handset->RequestCount(), 12u);
    const SimVerifyReport report = line.handset->Verify({{kInitAmss, 0x18000, image}});
    EXPECT_TRUE(report.ok) << report.text;
    EXPECT_EQ(line.handset->ReadArea(kInitAmss, 0x18000 + image.size(), 1), SimBytes{0x00});
    line.handset->Stop();  // the counts are final once the thread is done
    EXPECT_GT(line.handset->BytesReceived(), image.size());
    EXPECT_EQ(line.handset->BytesSent(), 12 * SimAckWire(0).size());
}

TEST(SimHandsetSocket, StopIsPromptEvenWhileAReplyIsHeldBack) {
    SocketLine line = StartOnSocket(WithFaults("latency:any:every:30s"));
    line.station.Send(0, SimBodyCode(kUnlock));
    ASSERT_EQ(line.handset->WaitForRequests(1, milliseconds(2000)), 1);
    const auto start = Clock::now();
    line.handset->Stop();
    EXPECT_LT(Clock::now() - start, milliseconds(1000));
    line.handset->Stop();  // twice is harmless
}

TEST(SimHandsetSocket, UnplugClosesTheLine) {
    SocketLine line = StartOnSocket();
    line.station.Send(0, SimBodyCode(kUnlock));
    ASSERT_EQ(SimReplyFrames(line.station.ReadFrames(1)).size(), 1u);
    line.handset->Unplug();
    EXPECT_TRUE(line.handset->Unplugged());
    EXPECT_EQ(line.station.ReadResult(), 0);
}

TEST(SimHandsetSocket, TheUnplugFaultPullsTheCableAtTheChosenWrite) {
    SocketLine line = StartOnSocket(WithFaults("unplug:WRITE:2"));
    StationEnd& st = line.station;
    st.Send(0, SimBodyCode(kUnlock));
    st.Send(1, SimBodyVersion(DOWNLOADER_VERSION));
    st.Send(2, SimBodyArea(kInitAmss));
    st.Send(3, SimBodyWrite(0, SimPattern(kBlockSize, 1)));
    st.Send(0, SimBodyWrite(kBlockSize, SimPattern(kBlockSize, 2)));
    const SimBytes got = st.ReadFrames(5, milliseconds(2000));
    EXPECT_EQ(SimReplyFrames(got).size(), 4u);
    EXPECT_EQ(st.ReadResult(), 0);
    // The station sees the line go before the handset has noted it: give it a moment.
    const auto until = Clock::now() + milliseconds(2000);
    while (!line.handset->Unplugged() && Clock::now() < until)
        std::this_thread::sleep_for(milliseconds(1));
    EXPECT_TRUE(line.handset->Unplugged());
    EXPECT_EQ(line.handset->Requests().back().reply, SimReply::Unplugged);
}

TEST(SimHandsetSocket, AStationThatHangsUpLeavesTheHandsetWaitingForStop) {
    SocketLine line = StartOnSocket();
    line.station = StationEnd();  // closes the station's end
    line.handset->Stop();
    EXPECT_EQ(line.handset->RequestCount(), 0u);
}

TEST(SimHandsetSocket, AtAUartRateTheTransferTakesItsLineTime) {
    SimOptions options;
    options.baud = 115200;
    SocketLine line = StartOnSocket(options);
    StationEnd& st = line.station;
    st.Send(0, SimBodyCode(kUnlock));
    st.Send(1, SimBodyVersion(DOWNLOADER_VERSION));
    st.Send(2, SimBodyArea(kInitAmss));
    ASSERT_EQ(SimReplyFrames(st.ReadFrames(3)).size(), 3u);

    // About 11 KB on the wire: 11000 data bytes and their header take 0.96 s at 11520 bytes/s.
    const SimBytes data = SimPattern(11000, 5);
    const SimBytes wire = SimRequestWire(3, SimBodyWrite(0, data));
    const auto start = Clock::now();
    st.WriteAll(wire);
    ASSERT_EQ(SimReplyFrames(st.ReadFrames(1, milliseconds(10000))).size(), 1u);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double lineTime = wire.size() * 10.0 / 115200;
    EXPECT_GT(seconds, lineTime * 0.9);
    EXPECT_LT(seconds, lineTime * 1.5 + 0.5);
    EXPECT_EQ(line.handset->ReadArea(kInitAmss, 0, data.size()), data);
}

// ---- Over a pseudo-terminal ----

class SimHandsetPty : public ::testing::Test {
protected:
    void Start(SimOptions options = {}) {
        std::string error;
        handset = SimHandset::StartOnPty(std::move(options), &error);
        ASSERT_NE(handset, nullptr) << error;
        ASSERT_EQ(handset->DevicePath().rfind("/dev/", 0), 0u) << handset->DevicePath();
    }
    std::unique_ptr<SimHandset> handset;
};

TEST_F(SimHandsetPty, TheSlaveAnswersUnlockAndPassesEveryByteUnaltered) {
    Start();
    StationEnd st(OpenSlave(handset->DevicePath()));
    ASSERT_GE(st.fd(), 0);
    st.Send(1, SimBodyCode(kUnlock));
    EXPECT_EQ(st.ReadFrames(1), SimAckWire(1));
    st.Send(2, SimBodyVersion(DOWNLOADER_VERSION));
    st.Send(3, SimBodyArea(kInitAmss));
    ASSERT_EQ(SimReplyFrames(st.ReadFrames(2)).size(), 2u);

    // Flow-control characters, CR, LF, flags and escapes all arrive as they were sent.
    SimBytes data = {0x11, 0x13, 0x0D, 0x0A, 0x7E, 0x7D, 0x03, 0x1A, 0x04, 0x00, 0xFF, 0x7F};
    data.resize(kBlockSize, 0x11);
    st.Send(0, SimBodyWrite(0, data));
    EXPECT_EQ(st.ReadFrames(1), SimAckWire(0));
    EXPECT_EQ(handset->ReadArea(kInitAmss, 0, data.size()), data);
}

TEST_F(SimHandsetPty, TheStationMayCloseAndReopenThePort) {
    Start();
    {
        StationEnd first(OpenSlave(handset->DevicePath()));
        first.Send(0, SimBodyCode(kUnlock));
        ASSERT_EQ(first.ReadFrames(1), SimAckWire(0));
        // Half a frame, then the port is closed.
        const SimBytes wire = SimRequestWire(1, SimBodyVersion(DOWNLOADER_VERSION));
        first.WriteAll(SimBytes(wire.begin(), wire.begin() + 4));
        ASSERT_EQ(handset->WaitForRequests(1, milliseconds(1000)), 1);
    }
    // Long enough for the handset to see nobody has the port open.
    std::this_thread::sleep_for(milliseconds(50));
    StationEnd second(OpenSlave(handset->DevicePath()));
    ASSERT_GE(second.fd(), 0);
    second.Send(2, SimBodyCode(kUnlock));
    // One reply only: the half frame was forgotten, not completed into a bad frame.
    const SimBytes got = second.ReadFrames(2, milliseconds(100));
    EXPECT_EQ(got, SimAckWire(2));
    EXPECT_EQ(handset->RequestCount(), 2u);
}

TEST_F(SimHandsetPty, UnplugMakesTheStationsReadsFail) {
    Start();
    StationEnd st(OpenSlave(handset->DevicePath()));
    st.Send(0, SimBodyCode(kUnlock));
    ASSERT_EQ(st.ReadFrames(1), SimAckWire(0));
    handset->Unplug();
    const int result = st.ReadResult();
    EXPECT_TRUE(result == -EIO || result == 0) << result;
    pollfd p{st.fd(), POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 0), 1);
    EXPECT_TRUE(p.revents & POLLHUP);
}

TEST_F(SimHandsetPty, TheUnplugFaultTakesThePseudoTerminalAway) {
    Start(WithFaults("unplug:VERSION:1"));
    StationEnd st(OpenSlave(handset->DevicePath()));
    st.Send(0, SimBodyCode(kUnlock));
    EXPECT_EQ(st.ReadFrames(1), SimAckWire(0));
    st.Send(1, SimBodyVersion(DOWNLOADER_VERSION));
    const int result = st.ReadResult();
    EXPECT_TRUE(result == -EIO || result == 0) << result;
    // The flag follows the close by a moment.
    const auto end = Clock::now() + milliseconds(1000);
    while (!handset->Unplugged() && Clock::now() < end)
        std::this_thread::sleep_for(milliseconds(1));
    EXPECT_TRUE(handset->Unplugged());
    EXPECT_EQ(handset->Requests().back().reply, SimReply::Unplugged);
}

}  // namespace
