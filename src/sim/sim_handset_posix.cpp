#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "sim/sim_handset.h"
#include "sim/sim_pty.h"

namespace {

using Clock = std::chrono::steady_clock;

// While the station has the slave closed, the master reports a hang-up; look again this often.
constexpr std::chrono::milliseconds kNoPeerRetry{10};
constexpr std::size_t kReadChunk = 4096;

timespec ToTimespec(std::chrono::microseconds bound) {
    if (bound.count() < 0) bound = std::chrono::microseconds(0);
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(bound.count() / 1000000);
    ts.tv_nsec = static_cast<long>(bound.count() % 1000000 * 1000);
    return ts;
}

int SetNonBlocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

}  // namespace

std::unique_ptr<SimHandset> SimHandset::StartOnFd(int fd, Options options) {
    if (fd < 0) return nullptr;
    return Start(SimFd(fd), std::string(), std::move(options), nullptr);
}

std::unique_ptr<SimHandset> SimHandset::StartOnPty(Options options, std::string* error) {
    SimFd master;
    std::string path;
    std::string why;
    if (!SIM_OpenPty(master, path, why)) {
        if (error) *error = why;
        return nullptr;
    }
    return Start(std::move(master), std::move(path), std::move(options), error);
}

std::unique_ptr<SimHandset> SimHandset::Start(SimFd line, std::string devicePath, Options options,
                                              std::string* error) {
    std::array<int, 2> wake{-1, -1};
    if (!SetNonBlocking(line.get()) || ::pipe2(wake.data(), O_NONBLOCK | O_CLOEXEC) != 0) {
        if (error) *error = std::string("cannot set up the line: ") + std::strerror(errno);
        return nullptr;
    }
    auto handset = std::make_unique<SimHandset>(Key(), std::move(line), std::move(devicePath),
                                                SimFd(wake[0]), SimFd(wake[1]), std::move(options));
    try {
        handset->running_ = true;
        handset->thread_ = std::thread([h = handset.get()] { h->Run(); });
    } catch (const std::system_error& e) {
        handset->running_ = false;
        if (error) *error = std::string("cannot start the handset thread: ") + e.what();
        return nullptr;
    }
    return handset;
}

SimHandset::SimHandset(Key, SimFd line, std::string devicePath, SimFd wakeRead, SimFd wakeWrite,
                       Options options)
    : devicePath_(std::move(devicePath)),
      pty_(!devicePath_.empty()),
      line_(std::move(line)),
      wakeRead_(std::move(wakeRead)),
      wakeWrite_(std::move(wakeWrite)),
      rx_(options.baud),
      tx_(options.baud),
      agent_(std::move(options)) {
    struct stat st {};
    socket_ = ::fstat(line_.get(), &st) == 0 && S_ISSOCK(st.st_mode);
}

SimHandset::~SimHandset() {
    Stop();
}

void SimHandset::Stop() {
    stop_ = true;
    Wake();
    if (thread_.joinable()) thread_.join();
}

void SimHandset::Unplug() {
    if (!running_.load()) {
        // The thread has ended (or never ran): nobody else touches the line.
        if (thread_.joinable()) thread_.join();
        line_.reset();
        unplugged_ = true;
        return;
    }
    unplugRequested_ = true;
    Wake();
    std::unique_lock lock(mu_);
    changed_.wait(lock, [&] { return unplugged_.load() || !running_.load(); });
    if (!unplugged_.load()) {
        lock.unlock();
        Unplug();
    }
}

void SimHandset::Wake() {
    const std::uint8_t b = 1;
    if (wakeWrite_.valid()) (void)!::write(wakeWrite_.get(), &b, 1);
}

bool SimHandset::WaitWake(std::chrono::microseconds bound) {
    pollfd p{wakeRead_.get(), POLLIN, 0};
    const timespec ts = ToTimespec(bound);
    const int r =
        ::ppoll(&p, 1, bound == std::chrono::microseconds::max() ? nullptr : &ts, nullptr);
    if (r > 0 && (p.revents & POLLIN)) {
        std::array<std::uint8_t, 64> drain{};
        while (::read(wakeRead_.get(), drain.data(), drain.size()) > 0) {
        }
        return true;
    }
    return false;
}

void SimHandset::CloseLine() {
    line_.reset();
    {
        std::lock_guard lock(mu_);
        unplugged_ = true;
    }
    changed_.notify_all();
}

void SimHandset::Run() {
    std::vector<std::uint8_t> buffer(kReadChunk);
    std::vector<SimOutput> outputs;
    while (!stop_.load()) {
        if (unplugRequested_.load() && line_.valid()) CloseLine();
        if (!line_.valid() || peerGone_) {
            WaitWake(std::chrono::microseconds::max());
            continue;
        }
        // A paced line hands over what it has carried, a short burst at a time.
        if (rx_.Enabled()) {
            const auto wait = rx_.UntilReady(rx_.Burst(), Clock::now());
            if (wait.count() > 0) {
                WaitWake(wait);
                continue;
            }
        }
        std::array<pollfd, 2> fds = {pollfd{line_.get(), POLLIN, 0},
                                     pollfd{wakeRead_.get(), POLLIN, 0}};
        if (::ppoll(fds.data(), fds.size(), nullptr, nullptr) < 0) {
            if (errno == EINTR) continue;
            WaitWake(kNoPeerRetry);
            continue;
        }
        if (fds[1].revents & POLLIN) {
            WaitWake(std::chrono::microseconds(0));  // drain; the loop head looks at the flags
            continue;
        }
        if (!(fds[0].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL))) continue;

        const std::size_t want = std::min(buffer.size(), rx_.Ready(Clock::now()));
        const ssize_t n = ::read(line_.get(), buffer.data(), want);
        if (n > 0) {
            rx_.Consume(static_cast<std::size_t>(n), Clock::now());
            bytesReceived_ += static_cast<std::uint64_t>(n);
            outputs.clear();
            {
                std::lock_guard lock(mu_);
                agent_.Feed(std::span(buffer.data(), static_cast<std::size_t>(n)), outputs);
            }
            changed_.notify_all();
            for (const SimOutput& out : outputs) {
                if (out.delay.count() > 0) WaitWake(out.delay);
                if (stop_.load()) break;
                if (out.unplug || unplugRequested_.load()) {
                    CloseLine();
                    break;
                }
                WriteOut(out.bytes);
            }
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (pty_) {
            // EIO: nobody has the slave open (the station closed its port). The handset waits
            // for the next open; a frame cut off by the close is forgotten.
            {
                std::lock_guard lock(mu_);
                agent_.ResetLine();
            }
            WaitWake(kNoPeerRetry);
            continue;
        }
        // End of stream or a dead socket: the other end is gone for good.
        peerGone_ = true;
    }
    {
        std::lock_guard lock(mu_);
        running_ = false;
    }
    changed_.notify_all();
}

int SimHandset::WriteSome(std::span<const std::uint8_t> bytes) {
    const ssize_t n = socket_ ? ::send(line_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL)
                              : ::write(line_.get(), bytes.data(), bytes.size());
    if (n >= 0) return static_cast<int>(n);
    return (errno == EAGAIN || errno == EINTR) ? 0 : -1;
}

void SimHandset::WriteOut(std::span<const std::uint8_t> bytes) {
    std::size_t done = 0;
    while (done < bytes.size() && !Interrupted()) {
        pollfd p{line_.get(), POLLOUT, 0};
        if (::poll(&p, 1, 0) < 0 && errno != EINTR) return;
        // A peer that is away gets nothing: bytes left in a closed pseudo-terminal would greet
        // the next station that opens it as stale replies.
        if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) return;
        if (!(p.revents & POLLOUT)) {
            pollfd both[2] = {{line_.get(), POLLOUT, 0}, {wakeRead_.get(), POLLIN, 0}};
            const timespec ts = ToTimespec(std::chrono::milliseconds(50));
            ::ppoll(both, 2, &ts, nullptr);
            continue;
        }
        std::size_t chunk = bytes.size() - done;
        if (tx_.Enabled()) {
            const std::size_t wanted = std::min(chunk, tx_.Burst());
            const auto wait = tx_.UntilReady(wanted, Clock::now());
            if (wait.count() > 0) {
                WaitWake(wait);
                continue;
            }
            chunk = wanted;
        }
        const int n = WriteSome(bytes.subspan(done, chunk));
        if (n < 0) return;
        tx_.Consume(static_cast<std::size_t>(n), Clock::now());
        done += static_cast<std::size_t>(n);
        bytesSent_ += static_cast<std::uint64_t>(n);
    }
}

std::vector<SimRequest> SimHandset::Requests() const {
    std::lock_guard lock(mu_);
    return agent_.Requests();
}

std::size_t SimHandset::RequestCount() const {
    std::lock_guard lock(mu_);
    return agent_.Requests().size();
}

int SimHandset::WaitForRequests(std::size_t count, std::chrono::milliseconds bound) const {
    std::unique_lock lock(mu_);
    return changed_.wait_for(lock, bound, [&] { return agent_.Requests().size() >= count; }) ? 1
                                                                                             : 0;
}

SimVerifyReport SimHandset::Verify(const std::vector<SimExpectedImage>& images) const {
    std::lock_guard lock(mu_);
    return agent_.Flash().Verify(images);
}

std::vector<std::uint8_t> SimHandset::ReadArea(std::uint8_t area, std::uint32_t address,
                                               std::size_t length) const {
    std::lock_guard lock(mu_);
    return agent_.Flash().Read(area, address, length);
}

void SimHandset::SeedArea(std::uint8_t area, std::uint32_t address,
                          std::span<const std::uint8_t> bytes) {
    std::lock_guard lock(mu_);
    agent_.Flash().Area(area).Write(address, bytes);
    if (area == kSimAreaFs) agent_.Flash().MarkFsExisting();
}

bool SimHandset::Started() const {
    std::lock_guard lock(mu_);
    return agent_.Started();
}

int SimHandset::GoCount() const {
    std::lock_guard lock(mu_);
    return agent_.GoCount();
}

bool SimHandset::SecurityModeRequested() const {
    std::lock_guard lock(mu_);
    return agent_.SecurityModeRequested();
}
