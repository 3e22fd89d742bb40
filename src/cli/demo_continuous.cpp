#include "demo_continuous.h"

#include <chrono>
#include <cstdio>
#include <filesystem>

#ifndef _WIN32
#include <stdlib.h>
#endif

#include "console_display.h"
#include "flash_continuous.h"
#include "resources/demo_images.h"
#include "sim/sim_arrivals.h"
#include "simulate_arrivals.h"

int CLI_RunDemoContinuous(const DemoContinuousOptions& o) {
#ifdef _WIN32
    (void)o;
    std::fprintf(stderr,
                 "error: the demo needs pseudo-terminals for its simulated handsets, which "
                 "Windows lacks\n");
    return 2;
#else
    std::string root = (std::filesystem::temp_directory_path() / "pelor-demo-XXXXXX").string();
    if (::mkdtemp(root.data()) == nullptr) {
        std::fprintf(stderr, "error: cannot create a temporary folder\n");
        return 1;
    }
    struct Remove {
        std::string path;
        ~Remove() {
            std::error_code ec;
            std::filesystem::remove_all(path, ec);
        }
    } remove{root};

    constexpr std::uint32_t kBaud = 1382400;
    std::string error;
    DemoImages images;
    if (!DEMO_MakeImages(root, static_cast<std::uint32_t>(o.amssMiB * 1024 * 1024), images,
                         &error)) {
        std::fprintf(stderr, "error: %s\n", error.c_str());
        return 1;
    }
    SimArrivalOptions line;
    if (!CLI_ParseArrivals(o.arrivals, line, error)) {
        std::fprintf(stderr, "error: %s\n", error.c_str());
        return 2;
    }
    line.sockets = o.sockets;
    line.folder = root;
    line.handsets = o.handsets;
    line.seed = 0x5EED;
    line.handset.baud = o.noUart ? 0 : kBaud;
    auto sim = SimLine::Start(line, &error);
    if (!sim) {
        std::fprintf(stderr, "error: %s\n", error.c_str());
        return 1;
    }
    std::printf(
        "a line of %d sockets: %d simulated handsets%s, each taken out %s after its job and "
        "the next plugged in after the operator's swap time\n\n",
        o.sockets, o.handsets, o.noUart ? "" : " paced like UARTs at 1382400 baud",
        o.arrivals.c_str());
    std::fflush(stdout);

    FlashOptions flash;
    for (int i = 0; i < o.sockets; ++i) flash.ports.push_back(sim->SocketPath(i));
    flash.codeDir = images.codeDir;
    flash.boot = true;
    flash.resource = images.resourceFile;
    flash.baud = static_cast<int>(kBaud);
    flash.delay = o.noUart ? 0 : 2;
    flash.report = o.report;
    flash.live = CLI_IsTerminal(stdout);
    flash.continuous = true;
    flash.maxJobs = o.handsets;
    const auto start = std::chrono::steady_clock::now();
    ContinuousOutcome outcome;
    const int status = CLI_RunFlashContinuous(flash, stdout, stderr, &outcome);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    sim->Stop();
    if (status == 2) return 1;
    std::printf("\n%d handsets done, %d failed in %.1f s: %.0f handsets per hour\n", outcome.done,
                outcome.failed, seconds,
                seconds > 0 ? 3600.0 * (outcome.done + outcome.failed) / seconds : 0.0);
    return status;
#endif
}
