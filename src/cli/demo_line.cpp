#include "demo_line.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <stdlib.h>

#include <csignal>
#endif

#include "child_process.h"
#include "flash_run.h"
#include "line_server.h"
#include "resources/demo_images.h"
#include "stop_signals.h"
#include "throwaway_postgres.h"

int CLI_ParseRunTime(const std::string& text, std::chrono::milliseconds& time) {
    std::size_t digits = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
    if (digits == 0 || digits > 7) return 0;
    const long long value = std::stoll(text.substr(0, digits));
    const std::string unit = text.substr(digits);
    long long scale = 0;
    if (unit.empty() || unit == "s") {
        scale = 1000;
    } else if (unit == "ms") {
        scale = 1;
    } else if (unit == "m" || unit == "min") {
        scale = 60 * 1000;
    } else if (unit == "h") {
        scale = 3600 * 1000;
    } else {
        return 0;
    }
    time = std::chrono::milliseconds(value * scale);
    return 1;
}

#ifdef _WIN32
int CLI_RunDemoLine(const DemoLineOptions&, std::FILE*, std::FILE* err) {
    std::fprintf(err,
                 "error: the line demo needs pseudo-terminals for its simulated handsets, which "
                 "Windows lacks; run it on Linux\n");
    return kExitUsage;
}
#else

namespace {

// How the benches work: short jobs (the images of `pelor demo` with a small AMSS, the line
// paced so that a job takes a second or two) and a quick operator, so that the bad socket has
// jobs enough to be judged within half a minute.
constexpr double kAmssMiB = 0.25;
constexpr const char* kArrivals = "300ms,uniform:400ms-1s";
constexpr unsigned kLineBaud = 6000000;
constexpr const char* kBadRate = "90%";

struct Bench {
    std::string name;
    std::string folder;
    std::string sockets;
    bool bad = false;
    ChildProcess simulator;
    ChildProcess station;
};

int Lines(const std::string& path) {
    std::ifstream in(path);
    int n = 0;
    for (std::string line; std::getline(in, line);) ++n;
    return n;
}

std::string LastLines(const std::string& path, int count) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    std::string text;
    const std::size_t from =
        lines.size() > static_cast<std::size_t>(count) ? lines.size() - count : 0;
    for (std::size_t i = from; i < lines.size(); ++i) text += "  " + lines[i] + "\n";
    return text;
}

// Asks every child at once, so that the bound is the slowest one's and not their sum.
void StopAll(const std::vector<ChildProcess*>& children) {
    for (ChildProcess* c : children) c->Signal(SIGTERM);
    const auto wait = [&](std::chrono::milliseconds bound) {
        const auto deadline = std::chrono::steady_clock::now() + bound;
        for (ChildProcess* c : children) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            c->Wait(std::max(left, std::chrono::milliseconds(0)));
        }
    };
    wait(kDemoBenchStopGentle);
    for (ChildProcess* c : children) c->Signal(SIGTERM);
    wait(kDemoBenchStopFirm);
    for (ChildProcess* c : children)
        c->Stop(std::chrono::milliseconds(0), std::chrono::milliseconds(0));
}

class Demo {
public:
    Demo(const DemoLineOptions& o, std::FILE* out, std::FILE* err) : o_(o), out_(out), err_(err) {}
    ~Demo() {
        StopBenches();
        std::error_code ec;
        if (!root_.empty()) std::filesystem::remove_all(root_, ec);
    }

    int Run() {
        program_ = o_.program.empty() ? CLI_OwnProgramPath() : o_.program;
        if (program_.empty()) {
            std::fprintf(err_, "error: cannot tell where this program is, to start the benches\n");
            return kExitFailed;
        }
        std::string url = o_.results;
        if (url.empty()) {
            if (ThrowawayPostgres::FindPrograms(o_.programsRoot).empty()) {
                std::fprintf(err_,
                             "error: no PostgreSQL server installed to record to (install one "
                             "with `scripts/setup results-server`, or give --results URL)\n");
                return kExitUsage;
            }
            ThrowawayPostgresOptions serverOptions;
            serverOptions.programsRoot = o_.programsRoot;
            server_ = std::make_unique<ThrowawayPostgres>(serverOptions);
            std::fprintf(out_, "starting a throw-away PostgreSQL server...\n");
            std::fflush(out_);
            std::string error;
            if (!server_->Start(&error, [this] { return interrupted(); })) {
                if (interrupted()) return Interrupted();
                std::fprintf(err_, "error: the throw-away PostgreSQL server did not start: %s\n",
                             error.c_str());
                return kExitFailed;
            }
            url = server_->Url();
            std::fprintf(out_, "a throw-away PostgreSQL server in %s (a Unix socket there only)\n",
                         server_->Folder().c_str());
        }
        if (!StartBenches(url)) return interrupted() ? Interrupted() : kExitFailed;
        std::fprintf(out_,
                     "two benches of %d sockets in production mode, recording to %s: bench-a, "
                     "and bench-b whose socket %d is going bad (%s of its handsets lose their "
                     "line); their sockets and records in %s\n",
                     kDemoBenchSockets, url.c_str(), kDemoBadSocket, kBadRate, root_.c_str());
        if (o_.runFor.count() > 0) {
            std::fprintf(out_, "the demo ends after %lld s, or on Ctrl-C\n",
                         static_cast<long long>(o_.runFor.count() / 1000));
        } else {
            std::fprintf(out_, "Ctrl-C ends the demo\n");
        }
        std::fflush(out_);

        // The view is served until the time is up, Ctrl-C, or a bench ending on its own.
        std::atomic<bool> served{false};
        std::atomic<bool> benchEnded{false};
        const auto deadline = std::chrono::steady_clock::now() + o_.runFor;
        std::thread watch([&] {
            while (!served.load() && !stop_.load()) {
                if (interrupted() ||
                    (o_.runFor.count() > 0 && std::chrono::steady_clock::now() >= deadline)) {
                    stop_ = true;
                }
                for (Bench& b : benches_) {
                    if (!b.simulator.Running() || !b.station.Running()) {
                        benchEnded = true;
                        stop_ = true;
                    }
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
        LineServeOptions view;
        view.results = url;
        view.listen = o_.listen;
        const int served_status = CLI_ServeLine(view, out_, err_, &stop_);
        served = true;
        watch.join();
        for (Bench& b : benches_) {
            for (ChildProcess* c : {&b.simulator, &b.station}) {
                if (!c->Running() && benchEnded) {
                    std::fprintf(
                        err_, "error: %s ended on its own (status %d):\n%s", b.name.c_str(),
                        c->Status(),
                        LastLines(
                            b.folder + "/" + (c == &b.station ? "station.log" : "simulator.log"), 8)
                            .c_str());
                }
            }
        }
        std::fprintf(out_, "stopping the benches...\n");
        std::fflush(out_);
        StopBenches();
        if (server_) {
            server_->Remove();
            std::fprintf(out_, "the throw-away server is stopped and removed\n");
        }
        if (served_status != kExitOk) return served_status;
        return benchEnded ? kExitFailed : kExitOk;
    }

    std::atomic<bool>& StopFlag() { return stop_; }

private:
    int Interrupted() {
        std::fprintf(out_, "interrupted: the demo ends before the line view was served\n");
        return kExitOk;
    }

    bool interrupted() {
        if (signals_.Count() > 0) stop_ = true;
        return stop_.load();
    }

    bool StartBenches(const std::string& url) {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "pelor-demo-line-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::fprintf(err_, "error: cannot create a temporary folder\n");
            return false;
        }
        root_ = pattern;
        std::string error;
        DemoImages images;
        if (!DEMO_MakeImages(root_, static_cast<std::uint32_t>(kAmssMiB * 1024 * 1024), images,
                             &error)) {
            std::fprintf(err_, "error: %s\n", error.c_str());
            return false;
        }
        for (int i = 0; i < static_cast<int>(benches_.size()); ++i) {
            Bench& b = benches_[i];
            b.name = i == 0 ? "bench-a" : "bench-b";
            b.bad = i == 1;
            b.folder = root_ + "/" + b.name;
            b.sockets = b.folder + "/sockets";
            std::error_code ec;
            std::filesystem::create_directories(b.sockets, ec);
            std::filesystem::create_directories(b.folder + "/data", ec);
            // Each bench has its own folder: no settings file there (the defaults apply) and
            // its own local store, so nothing of the demo is left on this station's record.
            ChildCommand sim;
            sim.argv = {program_,
                        "simulate",
                        "-n",
                        std::to_string(kDemoBenchSockets),
                        "--arrivals",
                        kArrivals,
                        "--sockets-dir",
                        b.sockets,
                        "--uart-baud",
                        std::to_string(kLineBaud),
                        "--seed",
                        std::to_string(11 + i)};
            if (b.bad) {
                sim.argv.push_back("--bad-socket");
                sim.argv.push_back(std::to_string(kDemoBadSocket) + ":" + kBadRate);
            }
            sim.dir = b.folder;
            sim.out = b.folder + "/simulator.log";
            sim.parentDeathSignal = SIGTERM;
            if (!b.simulator.Start(sim, &error)) {
                std::fprintf(err_, "error: %s\n", error.c_str());
                return false;
            }
            // The simulator names each socket once it is there.
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
            while (Lines(sim.out) < kDemoBenchSockets) {
                if (interrupted()) return false;
                if (!b.simulator.Running() || std::chrono::steady_clock::now() > deadline) {
                    std::fprintf(err_, "error: the simulated handsets of %s did not start:\n%s",
                                 b.name.c_str(), LastLines(sim.out, 8).c_str());
                    return false;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            ChildCommand station;
            station.argv = {
                program_,  "flash",  "--continuous", "--station", b.name,       "--results",
                url,       "--code", images.codeDir, "--boot",    "--resource", images.resourceFile,
                "--delay", "0"};
            for (int s = 0; s < kDemoBenchSockets; ++s) {
                station.argv.push_back("-p");
                // Named from the bench's folder: the view shows the socket, not our temporary path.
                station.argv.push_back("sockets/socket" + std::to_string(s));
            }
            station.dir = b.folder;
            station.environment = {{"XDG_DATA_HOME", b.folder + "/data"}};
            station.out = b.folder + "/station.log";
            station.parentDeathSignal = SIGTERM;
            if (!b.station.Start(station, &error)) {
                std::fprintf(err_, "error: %s\n", error.c_str());
                return false;
            }
        }
        return true;
    }

    // The stations first, so that no running job sees its handset vanish; then the handsets.
    void StopBenches() {
        std::vector<ChildProcess*> stations;
        std::vector<ChildProcess*> simulators;
        for (Bench& b : benches_) {
            stations.push_back(&b.station);
            simulators.push_back(&b.simulator);
        }
        StopAll(stations);
        StopAll(simulators);
    }

    DemoLineOptions o_;
    std::FILE* out_;
    std::FILE* err_;
    StopSignals signals_;
    std::atomic<bool> stop_{false};
    std::string program_;
    std::unique_ptr<ThrowawayPostgres> server_;
    std::string root_;
    std::array<Bench, 2> benches_;
};

}  // namespace

int CLI_RunDemoLine(const DemoLineOptions& options, std::FILE* out, std::FILE* err) {
    Demo demo(options, out, err);
    return demo.Run();
}
#endif
