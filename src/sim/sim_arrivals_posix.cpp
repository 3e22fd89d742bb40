#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <filesystem>

#include "sim/sim_arrivals.h"
#include "sim/sim_fault.h"
#include "sim/sim_handset.h"

using Clock = std::chrono::steady_clock;
using std::chrono::microseconds;

namespace {

constexpr auto kLookInterval = std::chrono::milliseconds(5);

}  // namespace

SimLine::SimLine(SimArrivalOptions options)
    : options_(std::move(options)),
      began_(Clock::now()),
      places_(static_cast<std::size_t>(options_.sockets)),
      rng_(options_.seed),
      badRng_(options_.seed ^ 0x5eedbadu),
      restartRng_(options_.seed ^ 0x9E3779B9u) {}

std::unique_ptr<SimLine> SimLine::Start(SimArrivalOptions options, std::string* error) {
    std::string ignored;
    std::string& why = error != nullptr ? *error : ignored;
    if (options.sockets < 1 || options.folder.empty()) {
        why = "a line needs sockets and a folder for their links";
        return nullptr;
    }
    auto line = std::make_unique<SimLine>(std::move(options));
    // The sockets' folder is made when missing, as `--sockets-dir /tmp/line` on a fresh machine
    // expects.
    std::error_code made;
    std::filesystem::create_directories(line->ByIdFolder(), made);
    if (made) {
        why = "cannot make the folder " + line->ByIdFolder() + ": " + made.message();
        return nullptr;
    }
    {
        std::lock_guard lock(line->mu_);
        for (int i = 0; i < line->options_.sockets; ++i) {
            if (line->options_.handsets > 0 && line->plugged_ >= line->options_.handsets) break;
            if (!line->Plug(i, &why)) return nullptr;
        }
    }
    try {
        line->thread_ = std::thread(&SimLine::Run, line.get());
    } catch (const std::system_error&) {
        why = "cannot start the operator's thread";
        return nullptr;
    }
    return line;
}

SimLine::~SimLine() {
    Stop();
}

void SimLine::Stop() {
    {
        std::lock_guard lock(mu_);
        stop_ = true;
    }
    if (thread_.joinable()) thread_.join();
    std::lock_guard lock(mu_);
    for (int i = 0; i < static_cast<int>(places_.size()); ++i) Unplug(i);
}

std::string SimLine::SocketPath(int socket) const {
    return options_.folder + "/socket" + std::to_string(socket);
}

std::string SimLine::ByIdFolder() const {
    return options_.folder + "/by-id";
}

int SimLine::Restarts() const {
    std::lock_guard lock(mu_);
    return restarts_;
}

bool SimLine::Show(int socket, std::unique_ptr<SimHandset> handset, std::string* error) {
    Place& p = places_[socket];
    // The links appear at once and whole: made under another name, then renamed into place;
    // the serial number first, as udev has it before the port is announced.
    const std::string byId = ByIdFolder() + "/" + SIM_ByIdName(p.serial);
    for (const std::string& path : {byId, SocketPath(socket)}) {
        const std::string temp = path + ".new";
        ::unlink(temp.c_str());
        if (::symlink(handset->DevicePath().c_str(), temp.c_str()) != 0 ||
            ::rename(temp.c_str(), path.c_str()) != 0) {
            ::unlink(temp.c_str());
            ::unlink(byId.c_str());
            if (error != nullptr) *error = "cannot make the link " + path;
            return false;
        }
    }
    p.handset = std::move(handset);
    p.lastCount = 0;
    p.lastChange = Clock::now();
    p.pluggedAt = p.lastChange;
    return true;
}

void SimLine::Hide(int socket) {
    Place& p = places_[socket];
    // The serial number first, so that a socket seen gone has no serial number shown either.
    ::unlink((ByIdFolder() + "/" + SIM_ByIdName(p.serial)).c_str());
    ::unlink(SocketPath(socket).c_str());
    if (p.handset) p.handset->Unplug();
    p.handset.reset();
}

bool SimLine::Plug(int socket, std::string* error) {
    // No link may outlive its handset's pseudo-terminal, whose number the new one may take.
    ForgetLeft(Clock::now());
    Place& p = places_[socket];
    SimOptions handsetOptions = options_.handset;
    handsetOptions.seed = options_.handset.seed + static_cast<std::uint32_t>(plugged_);
    const double badRate =
        socket < static_cast<int>(options_.badRate.size()) ? options_.badRate[socket] : 0.0;
    if (badRate > 0 && std::uniform_real_distribution<double>(0.0, 1.0)(badRng_) < badRate) {
        // A worn cable: the line goes away at one of the first blocks.
        const int block = std::uniform_int_distribution<int>(1, 3)(badRng_);
        std::string ignored;
        SIM_ParseFaults("unplug:WRITE:" + std::to_string(block), handsetOptions.faults, ignored);
    }
    std::string why;
    auto handset = SimHandset::StartOnPty(handsetOptions, &why);
    if (!handset) {
        if (error != nullptr) *error = "cannot start a simulated handset: " + why;
        return false;
    }
    p.serial = SIM_HandsetSerial(options_.seed, plugged_);
    if (!Show(socket, std::move(handset), error)) return false;
    p.ended = false;
    p.tookGo = false;
    p.restarting = false;
    p.back = false;
    ++plugged_;
    Record(socket, true, false);
    return true;
}

void SimLine::Unplug(int socket) {
    Place& p = places_[socket];
    if (!p.handset && !p.restarting) return;
    const bool started = p.tookGo || (p.handset && p.handset->Started());
    Hide(socket);
    p.restarting = false;
    p.tookGo = false;
    if (started) ++finished_;
    Record(socket, false, started);
}

void SimLine::Restart(int socket, Clock::time_point now) {
    Place& p = places_[socket];
    p.tookGo = true;
    Hide(socket);
    p.restarting = true;
    p.backAt = now + SIM_DrawSwapTime(options_.swap, restartRng_);
    Record(socket, false, true, true);
}

void SimLine::ComeBack(int socket) {
    Place& p = places_[socket];
    p.restarting = false;
    SimOptions firmware = options_.handset;
    firmware.faults.clear();
    std::string error;
    // Its new firmware: silent, or refusing every request.
    SIM_ParseFaults((restartRng_() & 1) != 0 ? "silent" : "refuse", firmware.faults, error);
    auto handset = SimHandset::StartOnPty(firmware, &error);
    if (!handset || !Show(socket, std::move(handset), &error)) {
        std::fprintf(stderr, "cannot bring a restarted handset back: %s\n", error.c_str());
        p.ended = true;
        p.endedAt = Clock::now();
        return;
    }
    p.back = true;
    // The operator takes it out once it is back, as after a GO without a restart.
    p.ended = true;
    p.endedAt = p.pluggedAt;
    ++restarts_;
    Record(socket, true, false, true);
}

void SimLine::Record(int socket, bool plugged, bool started, bool restart) {
    SimArrivalEvent e;
    e.restart = restart;
    e.seconds = std::chrono::duration<double>(Clock::now() - began_).count();
    e.socket = socket;
    e.plugged = plugged;
    e.started = started;
    events_.push_back(e);
}

void SimLine::ForgetLeft(Clock::time_point now) {
    for (int i = 0; i < static_cast<int>(places_.size()); ++i) {
        Place& p = places_[i];
        if (!p.handset || !p.handset->Unplugged()) continue;
        std::error_code ec;
        if (std::filesystem::read_symlink(SocketPath(i), ec) == p.handset->DevicePath()) {
            ::unlink(SocketPath(i).c_str());
        }
        if (!p.ended) {
            p.ended = true;
            p.endedAt = now;
        }
    }
}

void SimLine::Look(Clock::time_point now) {
    ForgetLeft(now);
    for (int i = 0; i < static_cast<int>(places_.size()); ++i) {
        Place& p = places_[i];
        if (p.restarting && now >= p.backAt) ComeBack(i);
        if (!p.handset || p.ended) continue;
        const std::size_t count = p.handset->RequestCount();
        if (count != p.lastCount) {
            if (p.lastCount == 0) {
                latencies_.push_back(std::chrono::duration<double>(now - p.pluggedAt).count());
            }
            p.lastCount = count;
            p.lastChange = now;
        }
        if (options_.restart && p.handset->GoCount() > 0) {
            Restart(i, now);
            continue;
        }
        if (p.handset->GoCount() > 0 || p.handset->Unplugged() ||
            (count > 0 && now - p.lastChange >= options_.quiet)) {
            p.ended = true;
            p.endedAt = now;
        }
    }
}

int SimLine::NextSwap(Clock::time_point now) const {
    const auto due = [&](const Place& p) {
        return p.handset && p.ended && now - p.endedAt >= options_.leaveAfter;
    };
    if (options_.batch) {
        if (!batchSwapping_) {
            // Until every socket's handset is done, the operator waits.
            for (const Place& p : places_) {
                if ((p.handset || p.restarting) && !due(p)) return -1;
            }
        }
        for (int i = 0; i < static_cast<int>(places_.size()); ++i) {
            if (due(places_[i])) return i;
        }
        return -1;
    }
    int next = -1;
    for (int i = 0; i < static_cast<int>(places_.size()); ++i) {
        if (due(places_[i]) && (next < 0 || places_[i].endedAt < places_[next].endedAt)) next = i;
    }
    return next;
}

bool SimLine::Ready() const {
    std::lock_guard lock(mu_);
    if (swapping_ >= 0) return false;
    for (const Place& p : places_) {
        if (!p.handset || p.ended || p.lastCount != 0) return false;
    }
    return true;
}

int SimLine::Plugged() const {
    std::lock_guard lock(mu_);
    return plugged_;
}

int SimLine::Finished() const {
    std::lock_guard lock(mu_);
    return finished_;
}

std::vector<SimArrivalEvent> SimLine::Events() const {
    std::lock_guard lock(mu_);
    return events_;
}

std::vector<double> SimLine::FirstRequestLatencies() const {
    std::lock_guard lock(mu_);
    return latencies_;
}

void SimLine::Run() {
    for (;;) {
        {
            std::lock_guard lock(mu_);
            if (stop_) return;
            const auto now = Clock::now();
            Look(now);
            if (swapping_ >= 0 && now >= swapEnds_) {
                const bool more = options_.handsets <= 0 || plugged_ < options_.handsets;
                if (more) {
                    std::string error;
                    if (!Plug(swapping_, &error)) std::fprintf(stderr, "%s\n", error.c_str());
                }
                swapping_ = -1;
            }
            if (swapping_ < 0) {
                const int next = NextSwap(now);
                if (next >= 0) {
                    Unplug(next);
                    swapping_ = next;
                    swapEnds_ = now + SIM_DrawSwapTime(options_.swap, rng_);
                    batchSwapping_ = options_.batch;
                } else {
                    batchSwapping_ = false;
                }
            }
        }
        std::this_thread::sleep_for(kLookInterval);
    }
}
