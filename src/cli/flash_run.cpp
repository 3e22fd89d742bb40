#include "flash_run.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <system_error>
#include <thread>

#include "config/atomic_file.h"
#include "config/ini_file.h"
#include "config/paths.h"
#include "config/settings.h"
#include "config/version.h"
#include "console_display.h"
#include "flash_inputs.h"
#include "jobs/download_plan.h"
#include "jobs/file_download.h"
#include "jobs/port_assignment.h"
#include "jobs/runner.h"
#include "link/image_table.h"
#include "link/outcome.h"
#include "stop_signals.h"
#include "transport/device_watch.h"
#include "transport/port_table.h"
#include "transport/serial_port.h"
#include "transport/trace.h"

namespace {

// "fw/" as a shell's completion gives it is the folder "fw"; the AMSS images are named after the
// last component. The root of the file system stays as it is.
std::string WithoutTrailingSeparators(std::string folder) {
    while (folder.size() > 1 && IsPathSeparator(folder.back())) {
        if (folder.size() == 3 && folder[1] == ':') break;  // a drive's root, "C:\"
        folder.pop_back();
    }
    return folder;
}

// A report that cannot be written is found before any port opens, as the trace is: a temporary
// file is made beside it and removed again.
bool ReportWritable(const std::string& path, std::string* error) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        *error = "cannot write the report " + path + ": it is a folder";
        return false;
    }
    AtomicFileWriter probe;
    if (!probe.Open(path)) {
        *error = "cannot write the report " + path + ": " + probe.Error();
        return false;
    }
    probe.Abort();
    return true;
}

// Puts the choices into the settings globals as the window's handlers would.
bool SetChoices(const FlashOptions& o, DownloadControls& controls, std::string* error) {
    SETTINGS_ResetGlobals();
    const bool code = !o.codeDir.empty();
    if (o.erase != "none" && o.erase != "all" && o.erase != "except-backup") {
        *error = "--erase takes none, all or except-backup";
        return false;
    }
    if (o.erase != "none" && !code) {
        *error = "--erase needs --code";
        return false;
    }
    // An option of a row that is not written would be ignored: it is a mistake to mend.
    if (o.boot && !code) {
        *error = "--boot needs --code (the boot chain is written with the Code row)";
        return false;
    }
    if (o.resource.empty() && (!o.resourceAddress.empty() || o.noFormat)) {
        *error = std::string(o.noFormat ? "--no-format" : "--resource-address") +
                 " needs --resource (or a job file whose Resource row is ticked)";
        return false;
    }
    if (o.erase == "except-backup" && o.resource.empty()) {
        *error = "--erase except-backup needs --resource, as the window's Erase NAND does";
        return false;
    }
    if (!code && o.resource.empty()) {
        *error = "Select Image ! (give --code, --resource or --job)";
        return false;
    }
    if (o.codeDir.size() >= sizeof g_szCodeFile) {
        *error = "code folder is longer than 260 characters";
        return false;
    }
    if (o.resource.size() >= sizeof g_szEtc2File) {
        *error = "resource path is longer than 260 characters";
        return false;
    }
    SETTINGS_CopyText(g_szCodeFile, WithoutTrailingSeparators(o.codeDir));
    SETTINGS_SplitCodePath();
    const bool boot = o.boot || o.erase != "none";
    g_bChangeBootArea = boot ? 1 : 0;
    SETTINGS_CopyText(g_szCodeAddress, boot ? "0" : "70000");
    g_bEraseAllNand = o.erase == "all" ? 1 : 0;
    g_bEraseNand = o.erase == "except-backup" ? 1 : 0;
    g_bCodeCheck = code ? 1 : 0;
    g_bEtc2Check = o.resource.empty() ? 0 : 1;
    SETTINGS_CopyText(g_szEtc2File, o.resource);
    g_bFormat = o.noFormat ? 0 : 1;
    g_nDelay = o.delay;
    g_dwBaudRate = o.baud;
    controls.codeChecked = code;
    controls.codeAddressText = g_szCodeAddress;
    controls.resourceChecked = !o.resource.empty();
    controls.resourceAddressText = o.resourceAddress;
    return true;
}

}  // namespace

int CLI_PrepareFlash(FlashOptions& o, std::array<int, kChannels>& ports,
                     std::array<std::string, kChannels>& names, std::FILE* err) {
    std::string error;
    if (o.ports.empty() || o.ports.size() > static_cast<std::size_t>(kChannels)) {
        std::fprintf(err, "error: give 1 to %d ports with -p\n", kChannels);
        return kExitUsage;
    }
    if (o.baud <= 0 || o.delay < 0) {
        std::fprintf(err, "error: --baud must be positive and --delay not negative\n");
        return kExitUsage;
    }
    if (!CLI_ApplyJobFile(o, &error)) {
        std::fprintf(err, "error: %s\n", error.c_str());
        return kExitUsage;
    }
    {
        std::error_code ec;
        if (!std::filesystem::is_directory(o.devRoot, ec)) {
            std::fprintf(err, "error: --dev: the folder %s does not exist\n", o.devRoot.c_str());
            return kExitUsage;
        }
    }
    SETTINGS_InitDirectory();
    PORTTABLE_Load(SETTINGS_FilePath());
    ports = {};
    names = {};
    for (std::size_t ch = 0; ch < o.ports.size(); ++ch) {
        std::string device;
        const int n = PORTS_Resolve(o.ports[ch], &device, &error, o.devRoot);
        if (n == 0) {
            std::fprintf(err, "error: %s\n", error.c_str());
            return kExitUsage;
        }
        // A device given twice, by one name or two, is refused by the Download's check below.
        ports[ch] = n;
        names[ch] = device;
    }

    DownloadControls controls;
    if (!SetChoices(o, controls, &error)) {
        std::fprintf(err, "error: %s\n", error.c_str());
        return kExitUsage;
    }
    if (PELOR_CheckDownload(controls, ports, &error) != DOWNLOAD_READY) {
        std::fprintf(err, "error: %s\n", error.c_str());
        return kExitUsage;
    }
    if (!o.continuous && !o.report.empty() && !ReportWritable(o.report, &error)) {
        std::fprintf(err, "error: %s\n", error.c_str());
        return kExitUsage;
    }
    if (!o.trace.empty() && !DBG_TraceOpen(o.trace)) {
        std::fprintf(err, "error: cannot write the trace file %s\n", o.trace.c_str());
        return kExitUsage;
    }
    return kExitOk;
}

int CLI_RunFlash(const FlashOptions& given, std::FILE* out, std::FILE* err, FlashOutcome* result) {
    FlashOptions o = given;
    FlashOutcome local;
    FlashOutcome& outcome = result != nullptr ? *result : local;
    outcome = FlashOutcome{};
    std::string error;
    std::array<int, kChannels> ports{};
    std::array<std::string, kChannels> names{};
    const int prepared = CLI_PrepareFlash(o, ports, names, err);
    if (prepared != kExitOk) return prepared;

    // A device removed during the run stops its channel at once, as in the window.
    std::array<std::string, kChannels> nodes{};
    for (int ch = 0; ch < kChannels; ++ch) {
        if (ports[ch] != 0) nodes[ch] = DEVICE_ResolvedNode(names[ch]);
    }
    DeviceWatcherOptions watchOptions;
    watchOptions.devRoot = o.devRoot;
    watchOptions.interval = std::chrono::milliseconds(200);
    DeviceWatch watch(watchOptions, [&](const DeviceEvent& e) {
        if (e.arrived) return;
        for (int ch = 0; ch < kChannels; ++ch) {
            if (ports[ch] == 0 || g_nComPort[ch] == 0) continue;
            if (names[ch] == e.name || (!nodes[ch].empty() && nodes[ch] == e.node)) {
                DBG_Trace("[Ch %d] %s removed\n", ch, e.name.c_str());
                PELOR_ChannelGone(ch);
            }
        }
    });
    watch.Start();

    ConsoleDisplay display(out, o.live, names);
    const BarTextOf barText = [&display](int ch) { return display.Board().bars[ch].text; };
    FlashResults results(o.results, SETTINGS_FilePath());
    PELOR_SetRunOptions(g_nDelay.load(), g_bFormat.load());
    PELOR_Start(&display, WM_DOWNLOAD_STATUS, ports, o.baud);
    results.RunStarted(names);
    // Each channel's outcome as the report gives it; a job still running when the run is cut
    // off is failed at step "stopped", reason "interrupted", as its row says.
    auto collect = [&] {
        const StatusBoard board = display.Board();
        outcome.ok = true;
        outcome.channels.clear();
        for (int ch = 0; ch < kChannels; ++ch) {
            if (ports[ch] == 0) continue;
            ChannelOutcome c;
            c.channel = ch;
            c.port = names[ch];
            c.ok = g_nChannelResult[ch] == 1;
            c.text = board.bars[ch].text;
            const JobOutcome failure = OUTCOME_Get(ch);
            c.step = OUTCOME_StepName(failure.step);
            c.reason = OUTCOME_ReasonName(failure.reason);
            c.detail = failure.detail;
            if (failure.step == JobStep::Open) c.why = failure.detail;
            if (g_nChannelResult[ch] == -1) {
                c.step = "stopped";
                c.reason = "interrupted";
            }
            c.seconds = display.Seconds(ch);
            c.goAnswered = g_nGoAnswered[ch];
            for (const IMAGE_ENTRY& e : g_ImageTable[ch]) c.bytes += e.nSent;
            outcome.ok = outcome.ok && c.ok;
            outcome.channels.push_back(c);
        }
        if (!o.report.empty() && !CLI_WriteReport(o.report, outcome, &error)) {
            std::fprintf(err, "error: cannot write the report: %s\n", error.c_str());
            return false;
        }
        return true;
    };

    // The first interrupt lets the running jobs finish (a Download takes no new handsets
    // anyway); the second stops them: each job is on record as it ends, and one that does not
    // end within the bound is recorded as stopped before the program ends without it.
    StopSignals signals;
    int seen = 0;
    std::optional<std::chrono::steady_clock::time_point> cutAt;
    PELOR_Run([&](std::chrono::milliseconds interval) {
        watch.Poll();
        display.Refresh();
        results.Poll(barText);
        results.Bars(display.Board());
        if (const int count = signals.Count(); count != seen) {
            seen = count;
            if (count == 1) {
                std::fprintf(err, "stopping: the running jobs finish (Ctrl-C again stops them)\n");
            } else if (!cutAt) {
                std::fprintf(err, "stopping the running jobs\n");
                for (int ch = 0; ch < kChannels; ++ch) {
                    if (g_nComPort[ch] != 0) PELOR_CloseChannel(ch);
                }
                cutAt = std::chrono::steady_clock::now();
            }
        }
        if (cutAt && std::chrono::steady_clock::now() - *cutAt > kStopBound) {
            // A job that does not end when stopped is not waited for.
            results.Poll(barText);
            results.Cut(barText);
            results.RunEnded(barText, err, kStopBound);
            collect();
            if (!o.trace.empty()) DBG_TraceClose();
            std::fflush(nullptr);
            std::_Exit(kExitFailed);
        }
        std::this_thread::sleep_for(interval);
    });
    watch.Stop();
    PELOR_Stop();
    display.Finish();
    results.RunEnded(barText, err, cutAt ? kStopBound : kResultsCloseBound);
    if (!o.trace.empty()) DBG_TraceClose();
    if (!collect()) return kExitFailed;
    return outcome.ok ? kExitOk : kExitFailed;
}

int CLI_WriteReport(const std::string& path, const FlashOutcome& outcome, std::string* error) {
    nlohmann::json report;
    report["ok"] = outcome.ok;
    report["version"] = PELOR_VersionText();
    report["channels"] = nlohmann::json::array();
    for (const ChannelOutcome& c : outcome.channels) {
        report["channels"].push_back(
            {{"channel", c.channel},
             {"port", c.port},
             {"ok", c.ok},
             {"text", c.text},
             {"why", c.why},
             {"step", c.step},
             {"reason", c.reason},
             {"detail", c.detail},
             {"seconds", c.seconds},
             {"bytes", c.bytes},
             {"go_answered",
              c.goAnswered < 0 ? nlohmann::json(nullptr) : nlohmann::json(c.goAnswered == 1)}});
    }
    return ATOMIC_WriteFile(
        path, report.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n", error);
}
