#include "simulate_arrivals.h"

#include <cstdio>
#include <cstdlib>
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

int CLI_ParseBadSocket(const std::string& text, int sockets, SimArrivalOptions& line,
                       std::string& error) {
    error =
        "--bad-socket takes N:RATE, a socket and the share of its handsets that fail "
        "(e.g. 2:0.8 or 2:80%): " +
        text;
    const auto colon = text.find(':');
    if (colon == std::string::npos || colon == 0 || colon > 3) return 0;
    const std::string number = text.substr(0, colon);
    if (number.find_first_not_of("0123456789") != std::string::npos) return 0;
    const int socket = std::stoi(number);
    std::string rate = text.substr(colon + 1);
    const bool percent = !rate.empty() && rate.back() == '%';
    if (percent) rate.pop_back();
    char* end = nullptr;
    double value = rate.empty() ? -1 : std::strtod(rate.c_str(), &end);
    if (end == nullptr || *end != '\0') return 0;
    if (percent) value /= 100;
    if (!(value >= 0 && value <= 1)) return 0;
    if (socket >= sockets) {
        error = "--bad-socket: no socket " + number + " among " + std::to_string(sockets);
        return 0;
    }
    if (static_cast<int>(line.badRate.size()) < sockets) line.badRate.resize(sockets, 0.0);
    line.badRate[socket] = value;
    error.clear();
    return 1;
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
    for (const std::string& bad : o.badSockets) {
        if (!CLI_ParseBadSocket(bad, o.sockets, line, error)) {
            std::fprintf(stderr, "error: %s\n", error.c_str());
            return 2;
        }
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
    line.handset.faults = o.faults;
    line.handset.eraseLatencyPerBlock = o.eraseLatency;
    line.handset.programLatencyPerBlock = o.programLatency;
    line.handset.replyLatency = o.replyLatency;
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
