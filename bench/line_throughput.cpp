// One operator, a line of sockets, the same handsets flashed twice: in batch mode (every
// socket starts together at Download; the operator swaps all of them once the slowest is done)
// and in production mode (each socket starts when its handset arrives; the operator swaps one
// handset at a time as they finish). Prints handsets per hour of both, writes the finish
// times of every handset (CSV) and the arrival-to-first-request latencies.
//
// Time can be scaled: --scale S runs the lines S times faster (bit rate times S, swap and leave
// times divided by S) and reports every figure back in line time.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "flash_run.h"
#include "jobs/continuous_runner.h"
#include "jobs/file_download.h"
#include "jobs/runner.h"
#include "resources/demo_images.h"
#include "sim/sim_arrivals.h"
#include "sim/sim_ideal_line.h"
#include "simulate_arrivals.h"
#include "transport/serial_port.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Bench {
    int sockets = 8;
    int handsets = 64;
    double scale = 4;
    double mib = 5;
    std::string arrivals = "1s,uniform:3s-6s";
    std::string out = ".";
    std::uint32_t seed = 1;
    bool restart = false;  // handsets restart on GO
};

class Quiet : public NotifyTarget {
public:
    long OnStatusMessage(unsigned, std::uintptr_t, const void*) override { return 0; }
    void OnAlert(int, const char*) override {}
};

struct ModeResult {
    std::vector<double> finishes;  // line seconds from the start, one per handset, sorted
    int failed = 0;
    std::vector<double> latencies;  // real seconds: the station looks at its sockets in real time
    double PerHour() const {
        return finishes.empty() ? 0 : 3600.0 * finishes.size() / finishes.back();
    }
};

SimArrivalOptions LineOptions(const Bench& b, const std::string& folder, bool batch) {
    SimArrivalOptions line;
    std::string error;
    if (!CLI_ParseArrivals(b.arrivals, line, error)) {
        std::fprintf(stderr, "error: %s\n", error.c_str());
        std::exit(2);
    }
    const auto scaled = [&](std::chrono::microseconds t) {
        return std::chrono::microseconds(static_cast<long long>(t.count() / b.scale));
    };
    line.leaveAfter = scaled(line.leaveAfter);
    line.swap.a = scaled(line.swap.a);
    line.swap.b = scaled(line.swap.b);
    line.sockets = b.sockets;
    line.folder = folder;
    line.handsets = b.handsets;
    line.seed = b.seed;
    line.batch = batch;
    line.restart = b.restart;
    line.handset.baud = static_cast<std::uint32_t>(1382400 * b.scale);
    return line;
}

double Since(Clock::time_point t0, double scale) {
    return std::chrono::duration<double>(Clock::now() - t0).count() * scale;
}

ModeResult RunBatch(const Bench& b, const std::string& folder, FlashOptions flash) {
    ModeResult r;
    std::string error;
    auto sim = SimLine::Start(LineOptions(b, folder, true), &error);
    if (!sim) {
        std::fprintf(stderr, "error: %s\n", error.c_str());
        std::exit(1);
    }
    std::array<int, kChannels> ports{};
    std::array<std::string, kChannels> names{};
    if (CLI_PrepareFlash(flash, ports, names, stderr) != kExitOk) std::exit(2);
    Quiet quiet;
    const auto t0 = Clock::now();
    int batch = 0;
    while (static_cast<int>(r.finishes.size()) + r.failed < b.handsets) {
        while (!sim->Ready()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        std::array<bool, kChannels> seen{};
        PELOR_Start(&quiet, WM_DOWNLOAD_STATUS, ports, flash.baud);
        PELOR_Run([&](std::chrono::milliseconds) {
            for (int ch = 0; ch < b.sockets; ++ch) {
                if (!seen[ch] && g_nComPort[ch] == 0) {
                    seen[ch] = true;
                    if (g_nChannelResult[ch] == 1) {
                        r.finishes.push_back(Since(t0, b.scale));
                    } else {
                        ++r.failed;
                    }
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        });
        PELOR_Stop();
        for (int ch = 0; ch < b.sockets; ++ch) {
            if (!seen[ch])
                (g_nChannelResult[ch] == 1 ? r.finishes.push_back(Since(t0, b.scale))
                                           : void(++r.failed));
        }
        std::fprintf(stderr, "batch %d: %zu handsets done\n", ++batch, r.finishes.size());
    }
    r.latencies = sim->FirstRequestLatencies();
    sim->Stop();
    std::sort(r.finishes.begin(), r.finishes.end());
    return r;
}

ModeResult RunProduction(const Bench& b, const std::string& folder, FlashOptions flash) {
    ModeResult r;
    std::string error;
    auto sim = SimLine::Start(LineOptions(b, folder, false), &error);
    if (!sim) {
        std::fprintf(stderr, "error: %s\n", error.c_str());
        std::exit(1);
    }
    std::array<int, kChannels> ports{};
    std::array<std::string, kChannels> names{};
    if (CLI_PrepareFlash(flash, ports, names, stderr) != kExitOk) std::exit(2);
    Quiet quiet;
    const auto t0 = Clock::now();
    ContinuousOptions options;
    options.ports = ports;
    options.devices = names;
    options.baud = flash.baud;
    options.maxJobs = b.handsets;
    options.target = &quiet;
    options.onJobEnd = [&](const ContinuousJob& job) {
        if (job.ok) {
            r.finishes.push_back(Since(t0, b.scale));
        } else {
            ++r.failed;
        }
        if ((r.finishes.size() + r.failed) % 8 == 0) {
            std::fprintf(stderr, "production: %zu handsets done\n", r.finishes.size());
        }
    };
    ContinuousRunner runner(std::move(options));
    runner.Run();
    r.latencies = sim->FirstRequestLatencies();
    sim->Stop();
    std::sort(r.finishes.begin(), r.finishes.end());
    return r;
}

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(p * (v.size() - 1) + 0.5))];
}

}  // namespace

int main(int argc, char** argv) {
    Bench b;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        const std::string value = argv[i + 1];
        if (key == "--scale")
            b.scale = std::atof(value.c_str());
        else if (key == "--handsets")
            b.handsets = std::atoi(value.c_str());
        else if (key == "--sockets")
            b.sockets = std::atoi(value.c_str());
        else if (key == "--mib")
            b.mib = std::atof(value.c_str());
        else if (key == "--arrivals")
            b.arrivals = value;
        else if (key == "--out")
            b.out = value;
        else if (key == "--seed")
            b.seed = static_cast<std::uint32_t>(std::strtoul(value.c_str(), nullptr, 10));
        else if (key == "--restart")
            b.restart = value == "1";
        else {
            std::fprintf(stderr,
                         "usage: line_throughput [--scale S] [--handsets N] [--sockets N] "
                         "[--mib MB] [--arrivals LEAVE,SWAP] [--out DIR] [--seed N] "
                         "[--restart 0|1]\n");
            return 2;
        }
    }
    if (b.scale < 1 || b.sockets < 1 || b.sockets > kChannels || b.handsets < 1) {
        std::fprintf(stderr, "error: --scale >= 1, --sockets 1..8, --handsets >= 1\n");
        return 2;
    }
    std::string root = (std::filesystem::temp_directory_path() / "pelor-line-XXXXXX").string();
    if (::mkdtemp(root.data()) == nullptr) return 1;
    struct Remove {
        std::string path;
        ~Remove() {
            std::error_code ec;
            std::filesystem::remove_all(path, ec);
        }
    } remove{root};

    // A download of b.mib megabytes: the demo's image set with its AMSS image sized to fit.
    const std::uint64_t target = static_cast<std::uint64_t>(b.mib * 1000 * 1000);
    DemoImages images;
    std::string error;
    if (!DEMO_MakeImages(root, 1 << 20, images, &error)) {
        std::fprintf(stderr, "error: %s\n", error.c_str());
        return 1;
    }
    const auto amss = static_cast<std::uint32_t>((1 << 20) + (target - images.bytes));
    if (!DEMO_MakeImages(root, amss, images, &error)) {
        std::fprintf(stderr, "error: %s\n", error.c_str());
        return 1;
    }
    FlashOptions flash;
    for (int i = 0; i < b.sockets; ++i) flash.ports.push_back(root + "/socket" + std::to_string(i));
    flash.codeDir = images.codeDir;
    flash.boot = true;
    flash.resource = images.resourceFile;
    flash.baud = 1382400;
    // The write pause is real time: scaled with the line it rounds to whole milliseconds.
    flash.delay = static_cast<int>(2 / b.scale + 0.5);

    std::fprintf(stderr,
                 "%d sockets, %d handsets per mode, %llu bytes each, swaps %s, time scaled "
                 "%.1fx (lines at %.0f baud, write pause %d ms)\n",
                 b.sockets, b.handsets, static_cast<unsigned long long>(images.bytes),
                 b.arrivals.c_str(), b.scale, 1382400 * b.scale, flash.delay);
    const ModeResult batch = RunBatch(b, root, flash);
    const ModeResult production = RunProduction(b, root, flash);

    std::ofstream csv(b.out + "/line_throughput.csv");
    csv << "# handset, batch seconds, production seconds (line time)\n";
    const std::size_t n = std::max(batch.finishes.size(), production.finishes.size());
    for (std::size_t i = 0; i < n; ++i) {
        csv << i + 1 << ' '
            << (i < batch.finishes.size() ? std::to_string(batch.finishes[i]) : "NaN") << ' '
            << (i < production.finishes.size() ? std::to_string(production.finishes[i]) : "NaN")
            << '\n';
    }
    const auto show = [](const char* name, const ModeResult& r) {
        std::printf(
            "%-10s %3zu done %2d failed, last at %7.1f s: %6.1f handsets/h; arrival to "
            "first request median %.0f ms, 95th %.0f ms, max %.0f ms\n",
            name, r.finishes.size(), r.failed, r.finishes.empty() ? 0 : r.finishes.back(),
            r.PerHour(), 1000 * Percentile(r.latencies, 0.5), 1000 * Percentile(r.latencies, 0.95),
            1000 * Percentile(r.latencies, 1.0));
    };
    std::printf("bytes per handset %llu, swap %s, scale %.1f\n",
                static_cast<unsigned long long>(images.bytes), b.arrivals.c_str(), b.scale);
    show("batch", batch);
    show("production", production);
    const double ratio = batch.PerHour() > 0 ? production.PerHour() / batch.PerHour() : 0;
    std::printf("production / batch: %.2f\n", ratio);
    // The ideal station on the same line: the same operator, seed and swaps; each job starts as
    // its handset arrives and takes only the line time of its bytes (16527 bytes on the line
    // for every 16384 of payload, 10 bit times a byte).
    SimIdealOptions ideal;
    {
        SimArrivalOptions line;
        std::string error;
        CLI_ParseArrivals(b.arrivals, line, error);
        ideal.leaveAfter = line.leaveAfter;
        ideal.swap = line.swap;
    }
    ideal.sockets = b.sockets;
    ideal.handsets = b.handsets;
    ideal.seed = b.seed;
    ideal.restart = b.restart;
    ideal.flash = std::chrono::microseconds(static_cast<long long>(
        static_cast<double>(images.bytes) * 16527.0 / 16384.0 * 10.0 / 1382400.0 * 1e6));
    for (const bool batchMode : {true, false}) {
        ideal.batch = batchMode;
        const double perHour = SIM_IdealLine(ideal).PerHour();
        const ModeResult& real = batchMode ? batch : production;
        std::printf(
            "result %s seed %u swap %s restart %d: %.1f handsets/h, ideal %.1f, share %.3f\n",
            batchMode ? "batch" : "production", static_cast<unsigned>(b.seed), b.arrivals.c_str(),
            b.restart ? 1 : 0, real.PerHour(), perHour, perHour > 0 ? real.PerHour() / perHour : 0);
    }
    return batch.failed == 0 && production.failed == 0 ? 0 : 1;
}
