#include "simulate_arrivals.h"

#include <cstdio>
#include <filesystem>

#ifndef _WIN32
#include <pthread.h>
#include <stdlib.h>

#include <csignal>
#endif

#include "sim/sim_arrivals.h"
#include "sim/sim_fault.h"

int CLI_ParseArrivals(const std::string& text, SimArrivalOptions& line, std::string& error) {
    const auto comma = text.find(',');
    if (comma == std::string::npos) {
        error = "--arrivals takes LEAVE,SWAP (e.g. 1s,uniform:3s-6s)";
        return 0;
    }
    if (!SIM_ParseDuration(text.substr(0, comma), line.leaveAfter)) {
        error = "bad leave time '" + text.substr(0, comma) + "': use e.g. 1s or 500ms";
        return 0;
    }
    return SIM_ParseSwapTime(text.substr(comma + 1), line.swap, error);
}

int CLI_RunSimulateArrivals(const SimulateArrivalsOptions& o) {
#ifdef _WIN32
    (void)o;
    std::fprintf(stderr, "error: simulated handsets need pseudo-terminals, which Windows lacks\n");
    return 2;
#else
    SimArrivalOptions line;
    std::string error;
    if (!CLI_ParseArrivals(o.arrivals, line, error)) {
        std::fprintf(stderr, "error: %s\n", error.c_str());
        return 2;
    }
    std::string madeFolder;
    line.folder = o.folder;
    if (line.folder.empty()) {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "pelor-line-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::fprintf(stderr, "error: cannot create a folder for the sockets\n");
            return 1;
        }
        madeFolder = line.folder = pattern;
    }
    line.sockets = o.sockets;
    line.seed = o.seed;
    line.handsets = o.handsets;
    line.handset.baud = o.uartBaud;
    line.restart = o.restart;

    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    auto sim = SimLine::Start(line, &error);
    if (!sim) {
        std::fprintf(stderr, "error: %s\n", error.c_str());
        if (!madeFolder.empty()) std::filesystem::remove_all(madeFolder);
        return 1;
    }
    for (int i = 0; i < o.sockets; ++i) std::printf("%s\n", sim->SocketPath(i).c_str());
    std::fflush(stdout);
    int signal = 0;
    sigwait(&stopSignals, &signal);
    sim->Stop();
    std::fprintf(stderr, "%d handsets plugged in, %d taken out after GO", sim->Plugged(),
                 sim->Finished());
    if (o.restart) std::fprintf(stderr, ", %d back from a restart", sim->Restarts());
    std::fprintf(stderr, "\n");
    if (!madeFolder.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(madeFolder, ec);
    }
    return 0;
#endif
}
