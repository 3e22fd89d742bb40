// The simulated operator: swap times from a seeded distribution, a finished handset taken out
// and a fresh one plugged in after the swap, and in batch mode nothing swapped until every
// socket's handset has finished.
#include "sim/sim_arrivals.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <thread>

#include "link/commands.h"
#include "support/sim_frames.h"
#include "support/temp_dir.h"

namespace {

using namespace std::chrono_literals;
using std::chrono::microseconds;

TEST(SimSwapTime, ParsesTheThreeShapesAndRefusesTheRest) {
    SimSwapTime swap;
    std::string error;
    ASSERT_TRUE(SIM_ParseSwapTime("4s", swap, error));
    EXPECT_EQ(swap.kind, SimSwapTime::Kind::Fixed);
    EXPECT_EQ(swap.a, microseconds(4000000));
    ASSERT_TRUE(SIM_ParseSwapTime("uniform:3s-6s", swap, error));
    EXPECT_EQ(swap.kind, SimSwapTime::Kind::Uniform);
    EXPECT_EQ(swap.b, microseconds(6000000));
    ASSERT_TRUE(SIM_ParseSwapTime("exp:500ms", swap, error));
    EXPECT_EQ(swap.kind, SimSwapTime::Kind::Exponential);
    for (const char* bad : {"", "soon", "uniform:6s-3s", "uniform:3s", "exp:"}) {
        EXPECT_FALSE(SIM_ParseSwapTime(bad, swap, error)) << bad;
        EXPECT_FALSE(error.empty());
    }
}

TEST(SimSwapTime, DrawsStayInTheirRangeAndRepeatForTheSameSeed) {
    SimSwapTime uniform;
    SimSwapTime exponential;
    std::string error;
    ASSERT_TRUE(SIM_ParseSwapTime("uniform:3s-6s", uniform, error));
    ASSERT_TRUE(SIM_ParseSwapTime("exp:1s", exponential, error));
    std::mt19937 a(7), b(7), c(8);
    bool differs = false;
    double sum = 0;
    for (int i = 0; i < 2000; ++i) {
        const auto x = SIM_DrawSwapTime(uniform, a);
        EXPECT_GE(x, 3s);
        EXPECT_LT(x, 6s);
        EXPECT_EQ(x, SIM_DrawSwapTime(uniform, b));
        differs = differs || x != SIM_DrawSwapTime(uniform, c);
        const auto e = SIM_DrawSwapTime(exponential, a);
        SIM_DrawSwapTime(exponential, b);
        EXPECT_LE(e, 5s) << "capped at five means";
        sum += std::chrono::duration<double>(e).count();
    }
    EXPECT_TRUE(differs);
    EXPECT_NEAR(sum / 2000, 1.0, 0.1);
}

// The station's side of a socket: opens the link's pseudo-terminal and finishes a job on it.
class Station {
public:
    explicit Station(const std::string& path) {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY);
        if (fd_ >= 0) {
            termios t{};
            ::tcgetattr(fd_, &t);
            ::cfmakeraw(&t);
            ::tcsetattr(fd_, TCSANOW, &t);
        }
    }
    ~Station() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool ok() const { return fd_ >= 0; }
    void BeginJob() {
        Send(0, SimBodyCode(kCommandCodes[CMD_UNLOCK]));
        Send(1, SimBodyVersion(DOWNLOADER_VERSION));
    }
    void FinishJob() {
        BeginJob();
        Send(2, SimBodyCode(kCommandCodes[CMD_GO]));
    }

private:
    void Send(std::uint8_t seq, const SimBytes& body) {
        const SimBytes wire = SimRequestWire(seq, body);
        ASSERT_EQ(::write(fd_, wire.data(), wire.size()), static_cast<ssize_t>(wire.size()));
    }
    int fd_ = -1;
};

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds bound = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

std::string Target(const std::string& link) {
    std::error_code ec;
    return std::filesystem::read_symlink(link, ec).string();
}

SimArrivalOptions Options(const TempDir& dir, int sockets, bool batch) {
    SimArrivalOptions o;
    o.sockets = sockets;
    o.folder = dir.path();
    o.leaveAfter = 20ms;
    o.swap.a = 80ms;
    o.batch = batch;
    o.handsets = 2 * sockets;
    return o;
}

}  // namespace

TEST(SimLine, AFinishedHandsetIsTakenOutAndAFreshOneArrivesAfterTheSwap) {
    TempDir dir;
    std::string error;
    auto line = SimLine::Start(Options(dir, 1, false), &error);
    ASSERT_TRUE(line) << error;
    const std::string socket = line->SocketPath(0);
    ASSERT_TRUE(std::filesystem::exists(socket));
    {
        Station station(socket);
        ASSERT_TRUE(station.ok());
        station.FinishJob();
        // Read from the line's own account, not by looking at the folder: on a loaded machine a
        // look can miss the whole 80 ms the socket stands empty.
        ASSERT_TRUE(WaitFor([&] { return line->Events().size() >= 2; }));
    }
    ASSERT_TRUE(WaitFor([&] { return line->Plugged() == 2; }));
    ASSERT_TRUE(std::filesystem::exists(socket));
    EXPECT_EQ(line->Plugged(), 2);
    EXPECT_EQ(line->Finished(), 1);
    const auto events = line->Events();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_TRUE(events[0].plugged);
    EXPECT_FALSE(events[1].plugged);
    EXPECT_TRUE(events[1].started);
    EXPECT_TRUE(events[2].plugged);
    EXPECT_GE(events[2].seconds - events[1].seconds, 0.075);
    EXPECT_EQ(line->FirstRequestLatencies().size(), 1u);
    line->Stop();
    EXPECT_FALSE(std::filesystem::exists(socket)) << "stopping takes the handsets out";
}

TEST(SimLine, AHandsetThatLeavesByItselfTakesItsLinkWithIt) {
    // A device that goes away takes its socket's link with it, as the system's links do: a
    // link left behind would lead to the next pseudo-terminal of that number, perhaps a handset
    // plugged into another socket. The operator then puts a fresh handset in.
    TempDir dir;
    SimArrivalOptions o = Options(dir, 1, false);
    std::string error;
    ASSERT_EQ(SIM_ParseFaults("unplug:VERSION", o.handset.faults, error), 1) << error;
    auto line = SimLine::Start(o, &error);
    ASSERT_TRUE(line) << error;
    const std::string socket = line->SocketPath(0);
    const std::string first = Target(socket);
    {
        Station station(socket);
        ASSERT_TRUE(station.ok());
        station.BeginJob();  // the handset leaves at VERSION
        // Well before the handset would count as fallen silent (5 s).
        EXPECT_TRUE(WaitFor([&] { return Target(socket) != first; }, 2s));
    }
    ASSERT_TRUE(WaitFor([&] { return std::filesystem::exists(socket); }));
    EXPECT_NE(Target(socket), "");
    EXPECT_EQ(line->Plugged(), 2);
    line->Stop();
}

TEST(SimLine, InBatchModeTheOperatorWaitsForEverySocketThenSwapsThemInARow) {
    TempDir dir;
    std::string error;
    auto line = SimLine::Start(Options(dir, 2, true), &error);
    ASSERT_TRUE(line) << error;
    EXPECT_TRUE(line->Ready());
    const std::string first = Target(line->SocketPath(0));
    Station s0(line->SocketPath(0));
    s0.FinishJob();
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(Target(line->SocketPath(0)), first) << "swapped before the batch was done";
    EXPECT_FALSE(line->Ready());
    Station s1(line->SocketPath(1));
    s1.FinishJob();
    ASSERT_TRUE(WaitFor([&] { return line->Plugged() == 4 && line->Ready(); }));
    const auto events = line->Events();
    ASSERT_EQ(events.size(), 6u);
    EXPECT_EQ(events[2].socket, 0);
    EXPECT_FALSE(events[2].plugged);
    EXPECT_EQ(events[3].socket, 0);
    EXPECT_TRUE(events[3].plugged);
    EXPECT_EQ(events[4].socket, 1);
    EXPECT_FALSE(events[4].plugged);
    EXPECT_TRUE(events[5].plugged);
}

// A handset that took GO restarts: its socket goes and comes back on a new terminal, with the
// same serial number shown by id, answering as its new firmware does; once it is back the
// operator takes it out and a fresh handset with the next serial number arrives.
TEST(SimLine, WithRestartsAHandsetComesBackAfterGoUnderItsSerialNumberBeforeItIsTakenOut) {
    TempDir dir;
    std::string error;
    SimArrivalOptions o = Options(dir, 1, false);
    o.restart = true;
    o.leaveAfter = 150ms;
    auto line = SimLine::Start(o, &error);
    ASSERT_TRUE(line) << error;
    const std::string socket = line->SocketPath(0);
    const std::string byId = line->ByIdFolder() + "/" + SIM_ByIdName(SIM_HandsetSerial(1, 0));
    EXPECT_EQ(SIM_ByIdName(SIM_HandsetSerial(1, 0)), "usb-Pelor_Simulated_Handset_S1-0001-if00");
    const std::string first = Target(socket);
    EXPECT_EQ(Target(byId), first);
    {
        Station station(socket);
        ASSERT_TRUE(station.ok());
        station.FinishJob();
        // On a loaded machine a look may miss the whole time it is away.
        ASSERT_TRUE(
            WaitFor([&] { return !std::filesystem::exists(socket) || line->Restarts() >= 1; }));
    }
    // Looked at before the count: a handset counted back only once both links are made again.
    const bool idShown = std::filesystem::exists(byId);
    if (line->Restarts() == 0) {
        EXPECT_FALSE(idShown) << "the serial number stayed while it was away";
    }
    ASSERT_TRUE(WaitFor([&] { return line->Restarts() == 1; }));
    EXPECT_TRUE(std::filesystem::exists(socket));
    EXPECT_EQ(Target(byId), Target(socket)) << "back under its own serial number";
    EXPECT_EQ(line->Finished(), 0) << "taken out before it was back";
    // Then out after LEAVE, and the next handset in after the swap.
    ASSERT_TRUE(WaitFor([&] { return line->Plugged() == 2; }));
    EXPECT_EQ(line->Finished(), 1);
    EXPECT_FALSE(std::filesystem::exists(byId));
    const std::string next = line->ByIdFolder() + "/" + SIM_ByIdName(SIM_HandsetSerial(1, 1));
    EXPECT_EQ(Target(next), Target(socket));
    const auto events = line->Events();
    ASSERT_EQ(events.size(), 5u);
    EXPECT_TRUE(events[1].restart && !events[1].plugged);
    EXPECT_TRUE(events[2].restart && events[2].plugged);
    EXPECT_GE(events[2].seconds - events[1].seconds, 0.075) << "back after a swap's time";
    EXPECT_FALSE(events[3].restart || events[3].plugged);
    EXPECT_TRUE(events[3].started);
    EXPECT_EQ(line->FirstRequestLatencies().size(), 1u);
}

TEST(SimLine, MakesItsSocketsFolderWhenItIsMissing) {
    TempDir dir;
    SimArrivalOptions o = Options(dir, 1, false);
    o.folder = dir.path() + "/not/yet/made";
    std::string error;
    auto line = SimLine::Start(o, &error);
    ASSERT_TRUE(line) << error;
    EXPECT_TRUE(std::filesystem::exists(line->SocketPath(0)));
    line->Stop();
}
