// `pelor simulate`: simulated handsets on pseudo-terminals, served until interrupted.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#ifndef _WIN32
#include <pthread.h>

#include <csignal>
#endif

#include "cli_commands.h"
#include "config/atomic_file.h"
#include "sim/sim_fault.h"
#include "sim/sim_handset.h"
#include "simulate_arrivals.h"
#include "simulation_log.h"

namespace {

struct SimulateOptions {
    int count = 1;
    std::uint32_t uartBaud = 0;
    std::vector<std::string> faults;
    std::string eraseLatency;
    std::string programLatency;
    std::string replyLatency;
    std::string log;               // request log and flash digests, written when interrupted
    std::string dump;              // folder for the written ranges' bytes, written when interrupted
    SimulateArrivalsOptions line;  // with --arrivals: a line of sockets an operator works
};

#ifndef _WIN32

// "[N=]FAULT": a fault for handset N, or for every handset.
bool AddFault(const std::string& text, int count, std::vector<std::vector<SimFault>>& perHandset,
              std::string& error) {
    int target = -1;
    std::string fault = text;
    const auto eq = text.find('=');
    if (eq != std::string::npos) {
        const std::string index = text.substr(0, eq);
        if (index.empty() || index.find_first_not_of("0123456789") != std::string::npos) {
            error = "a handset number before '=' must be a number: " + text;
            return false;
        }
        // At most three digits: the number is compared, never overflows.
        target = index.size() > 3 ? count : std::stoi(index);
        if (target >= count) {
            error = "no handset " + index + " among " + std::to_string(count);
            return false;
        }
        fault = text.substr(eq + 1);
    }
    std::vector<SimFault> parsed;
    if (!SIM_ParseFaults(fault, parsed, error)) return false;
    for (int i = 0; i < count; ++i) {
        if (target >= 0 && i != target) continue;
        perHandset[i].insert(perHandset[i].end(), parsed.begin(), parsed.end());
    }
    return true;
}

bool Duration(const std::string& text, std::chrono::microseconds& out, std::string& error) {
    if (text.empty()) return true;
    if (SIM_ParseDuration(text, out)) return true;
    error = "not a duration: " + text;
    return false;
}

// What the handsets were asked and hold, for comparing runs: the log (one section per handset)
// and each written range's bytes in a file of its own. 1 when everything was written.
int WriteRecords(const SimulateOptions& o,
                 const std::vector<std::unique_ptr<SimHandset>>& handsets) {
    std::string log;
    for (std::size_t i = 0; i < handsets.size(); ++i) {
        const SimHandset& h = *handsets[i];
        const auto read = [&h](std::uint8_t area, std::uint32_t address, std::size_t length) {
            return h.ReadArea(area, address, length);
        };
        const std::vector<SimRequest> requests = h.Requests();
        log += SIM_LogSection(static_cast<int>(i), requests, h.GoCount(), read);
        if (o.dump.empty()) continue;
        for (const SimWrittenRange& range : SIM_WrittenRanges(requests)) {
            const std::string path = o.dump + "/" + SIM_DumpName(static_cast<int>(i), range);
            const auto bytes = h.ReadArea(range.area, range.address, range.length);
            std::string error;
            if (!ATOMIC_WriteFile(path, bytes, &error)) {
                std::fprintf(stderr, "error: %s\n", error.c_str());
                return 0;
            }
        }
    }
    std::string error;
    if (!o.log.empty() && !ATOMIC_WriteFile(o.log, log, &error)) {
        std::fprintf(stderr, "error: %s\n", error.c_str());
        return 0;
    }
    return 1;
}
#endif

int RunSimulate(const SimulateOptions& o) {
    if (o.line.arrivals.empty() && !o.line.badSockets.empty()) {
        std::fprintf(stderr, "error: --bad-socket needs --arrivals (a line of sockets)\n");
        return 2;
    }
    if (!o.line.arrivals.empty()) {
        SimulateArrivalsOptions line = o.line;
        line.sockets = o.count;
        line.uartBaud = o.uartBaud;
#ifndef _WIN32
        // Every handset of a line commits the faults and takes the times given; the handsets
        // come and go, so none is picked by number, and none is logged or dumped at the end.
        std::string error;
        if (!o.log.empty() || !o.dump.empty()) {
            error = "--log and --dump are not available with --arrivals";
        }
        for (const std::string& f : o.faults) {
            if (!error.empty()) break;
            if (f.find('=') != std::string::npos) {
                error = "with --arrivals a fault is for every handset: drop the number in " + f;
            } else {
                SIM_ParseFaults(f, line.faults, error);
            }
        }
        if (error.empty() && Duration(o.eraseLatency, line.eraseLatency, error) &&
            Duration(o.programLatency, line.programLatency, error)) {
            Duration(o.replyLatency, line.replyLatency, error);
        }
        if (!error.empty()) {
            std::fprintf(stderr, "error: %s\n", error.c_str());
            return 2;
        }
#endif
        return CLI_RunSimulateArrivals(line);
    }
#ifdef _WIN32
    (void)o;
    std::fprintf(stderr, "error: simulated handsets need pseudo-terminals, which Windows lacks\n");
    return 2;
#else
    std::string error;
    std::vector<std::vector<SimFault>> faults(o.count);
    for (const std::string& f : o.faults) {
        if (!AddFault(f, o.count, faults, error)) {
            std::fprintf(stderr, "error: %s\n", error.c_str());
            return 2;
        }
    }
    SimOptions base;
    base.baud = o.uartBaud;
    if (!Duration(o.eraseLatency, base.eraseLatencyPerBlock, error) ||
        !Duration(o.programLatency, base.programLatencyPerBlock, error) ||
        !Duration(o.replyLatency, base.replyLatency, error)) {
        std::fprintf(stderr, "error: %s\n", error.c_str());
        return 2;
    }
    // Block the stop signals before any thread starts, so only sigwait below takes them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    std::vector<std::unique_ptr<SimHandset>> handsets;
    for (int i = 0; i < o.count; ++i) {
        SimOptions options = base;
        options.faults = faults[i];
        options.seed = base.seed + static_cast<std::uint32_t>(i);
        auto handset = SimHandset::StartOnPty(options, &error);
        if (!handset) {
            std::fprintf(stderr, "error: cannot start a simulated handset: %s\n", error.c_str());
            return 1;
        }
        std::printf("%s\n", handset->DevicePath().c_str());
        handsets.push_back(std::move(handset));
    }
    std::fflush(stdout);
    int signal = 0;
    sigwait(&stopSignals, &signal);
    for (auto& h : handsets) h->Stop();
    return WriteRecords(o, handsets) ? 0 : 1;
#endif
}

}  // namespace

void CLI_AddSimulateCommand(CLI::App& app, int& exitCode) {
    auto options = std::make_shared<SimulateOptions>();
    CLI::App* cmd = app.add_subcommand(
        "simulate",
        "Serve simulated handsets on pseudo-terminals. It prints one device path per line and "
        "serves the handsets until interrupted (Ctrl-C). Flash them with `pelor flash -p PATH "
        "...`.");
    cmd->add_option("-n,--count", options->count, "Number of handsets")
        ->check(CLI::Range(1, 64))
        ->default_val(1);
    cmd->add_option("--uart-baud", options->uartBaud,
                    "Pace each line like a UART of this bit rate (bytes at baud/10 per second); "
                    "0 = as fast as the pseudo-terminal goes")
        ->default_val(0);
    cmd->add_option(
           "--fault", options->faults,
           "A fault for the handsets to commit. [N=]KIND[:COMMAND[:WHICH[:VALUE]]], "
           "for handset N or all; KIND is refuse, nak-resend, corrupt-crc, drop, garbage, latency, "
           "silent, unplug, hold or wrong-seq; e.g. 2=nak-resend:WRITE:40, refuse:INIT_PBL:1, "
           "silent, nak-resend:CLOSE:1:3 (CLOSE asked for again three times in a row); with "
           "--arrivals every handset commits it, and no N is given")
        ->type_name("FAULT");
    cmd->add_option("--erase-latency", options->eraseLatency,
                    "Time to erase each 16 KiB block (e.g. 2ms)")
        ->type_name("DURATION");
    cmd->add_option("--program-latency", options->programLatency,
                    "Time to program each written block (e.g. 500us)")
        ->type_name("DURATION");
    cmd->add_option("--reply-latency", options->replyLatency, "Delay before every reply")
        ->type_name("DURATION");
    cmd->add_option("--log", options->log,
                    "When interrupted, write every handset's requests and a digest of each "
                    "range its flash was written in to FILE (not with --arrivals)")
        ->type_name("FILE");
    cmd->add_option("--dump", options->dump,
                    "When interrupted, write the bytes of each range a handset's flash was "
                    "written in to a file of its own in DIR (handsetN-AREA-0xADDRESS.bin; not with "
                    "--arrivals)")
        ->type_name("DIR");
    cmd->add_option("--arrivals", options->line.arrivals,
                    "Production line: plug handsets in and out as an operator would. It prints "
                    "one socket path per handset (a link in a folder) and works the sockets as "
                    "one operator would: each handset is taken out "
                    "LEAVE after its job ended (it took GO, or fell silent), and a fresh one is "
                    "plugged in after a swap time drawn from SWAP: a duration (4s), "
                    "uniform:3s-6s or exp:4s (mean); one swap at a time")
        ->type_name("LEAVE,SWAP");
    cmd->add_option("--seed", options->line.seed, "With --arrivals: seed of the swap times")
        ->default_val(1);
    cmd->add_option("--handsets", options->line.handsets,
                    "With --arrivals: handsets to plug in all, the first ones included "
                    "(0 = no limit)")
        ->check(CLI::NonNegativeNumber)
        ->default_val(0);
    cmd->add_option("--bad-socket", options->line.badSockets,
                    "With --arrivals: socket N goes bad: that share of the handsets plugged into "
                    "it (0..1, or a percentage) lose their line in the middle of the image, as "
                    "through a worn cable or contacts; e.g. --bad-socket 2:0.8 (repeatable)")
        ->type_name("N:RATE");
    cmd->add_flag("--restart", options->line.restart,
                  "With --arrivals: each handset restarts on GO as a real one does: its socket "
                  "goes away and comes back after a time drawn from SWAP, now answering nothing "
                  "or refusing every request (not in download mode); the operator takes it out "
                  "once it is back. (With or without it, every handset's serial number is shown "
                  "as a link in the sockets' folder's by-id folder, as udev shows a USB "
                  "device's.)");
    cmd->add_option("--sockets-dir", options->line.folder,
                    "With --arrivals: make the sockets' links in DIR (default: a new temporary "
                    "folder)")
        ->type_name("DIR");
    cmd->callback([options, &exitCode] { exitCode = RunSimulate(*options); });
}
