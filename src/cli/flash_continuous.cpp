#include "flash_continuous.h"

#include <cstdlib>
#include <ctime>
#include <nlohmann/json.hpp>
#include <optional>
#include <thread>

#ifndef _WIN32
#include <poll.h>
#include <unistd.h>
#endif

#include "config/settings.h"
#include "continuous_display.h"
#include "jobs/continuous_runner.h"
#include "results/suspect_sockets.h"
#include "stop_signals.h"
#include "transport/device_watch.h"
#include "transport/trace.h"

namespace {

std::string IsoTime(std::chrono::system_clock::time_point t) {
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &seconds);
#else
    gmtime_r(&seconds, &utc);
#endif
    char text[40];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + n, sizeof text - n, ".%03dZ", static_cast<int>(ms % 1000));
    return text;
}

// The report is appended to, one line per job as it finishes: a crash loses nothing already
// written, and a line is either whole or (at worst) the last one cut short.
class ReportFile {
public:
    bool Open(const std::string& path) {
        if (path.empty()) return true;
        file_ = std::fopen(path.c_str(), "ab");
        return file_ != nullptr;
    }
    ~ReportFile() {
        if (file_ != nullptr) std::fclose(file_);
    }
    ReportFile() = default;
    ReportFile(const ReportFile&) = delete;
    ReportFile& operator=(const ReportFile&) = delete;
    bool Append(const std::string& line) {
        if (file_ == nullptr) return true;
        const std::string text = line + "\n";
        bool ok = std::fwrite(text.data(), 1, text.size(), file_) == text.size();
        ok = std::fflush(file_) == 0 && ok;
#ifndef _WIN32
        ::fsync(::fileno(file_));
#endif
        return ok;
    }

private:
    std::FILE* file_ = nullptr;
};

}  // namespace

std::string CLI_ContinuousReportLine(const ContinuousJob& job) {
    const nlohmann::ordered_json line = {{"socket", job.channel},
                                         {"port", job.device},
                                         {"start", IsoTime(job.start)},
                                         {"end", IsoTime(job.end)},
                                         {"result", job.ok ? "ok" : "failed"},
                                         {"text", job.text},
                                         {"bytes", job.bytes}};
    return line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

int CLI_RunFlashContinuous(const FlashOptions& given, std::FILE* out, std::FILE* err,
                           ContinuousOutcome* outcome) {
    FlashOptions o = given;
    if (o.maxJobs < 0) {
        std::fprintf(err, "error: --max-jobs must not be negative\n");
        return kExitUsage;
    }
    std::array<int, kChannels> ports{};
    std::array<std::string, kChannels> names{};
    const int prepared = CLI_PrepareFlash(o, ports, names, err);
    if (prepared != kExitOk) return prepared;
    ReportFile report;
    if (!report.Open(o.report)) {
        std::fprintf(err, "error: cannot append to the report %s\n", o.report.c_str());
        if (!o.trace.empty()) DBG_TraceClose();
        return kExitUsage;
    }

    ContinuousDisplay display(out, o.live, names);
    // Every job on record as in a Download: a row as each ends.
    FlashResults results(o.results, SETTINGS_FilePath());
    results.SessionStarted(names);
    bool cut = false;  // the second interrupt: the running jobs are on record as stopped
    bool reportFailed = false;
    // A socket going bad is flagged on its line; the flags start afresh with each run.
    SocketWatch suspects(RESULTS_SuspectRule(SETTINGS_FilePath()));
    std::array<bool, kChannels> flagged{};
    const auto judge = [&](const ContinuousJob& job) {
        if (!suspects.Add(RESULTS_EndedSocketJob(job.channel, job.ok, job.start, job.end))) return;
        for (int ch = 0; ch < kChannels; ++ch) {
            SuspectEvidence e;
            const bool suspect = suspects.Evidence(ch, &e);
            e.device = names[ch];
            display.SetSuspect(ch, suspect ? RESULTS_SuspectBadge(e) : "");
            results.Suspect(ch, suspect ? RESULTS_SuspectBadge(e) : "");
            if (suspect == flagged[ch]) continue;
            flagged[ch] = suspect;
            display.Note(suspect ? "suspect socket " + RESULTS_DescribeSuspect(e)
                                 : "ch" + std::to_string(ch) + " is no longer suspect: " +
                                       std::to_string(suspects.Rule().clearAfter) +
                                       " good jobs in a row");
        }
    };
    ContinuousOptions options;
    options.ports = ports;
    options.devices = names;
    options.baud = o.baud;
    options.settle = std::chrono::milliseconds(SETTINGS_RestartSettleMs(
        SETTINGS_FilePath(), static_cast<int>(kRestartSettleTime.count())));
    options.maxJobs = o.maxJobs;
    options.target = &display;
    options.onJobEnd = [&](const ContinuousJob& job) {
        display.JobEnded(job);
        judge(job);
        results.JobEnded(job.channel, job.ok, job.text);
        if (!report.Append(CLI_ContinuousReportLine(job)) && !reportFailed) {
            reportFailed = true;
            display.Note("error: cannot append to the report " + o.report);
        }
    };
    PELOR_SetRunOptions(g_nDelay.load(), g_bFormat.load());
    ContinuousRunner runner(std::move(options));
    display.Attach(&runner);
    display.Note(o.maxJobs > 0 ? "production mode: flashing each handset as it is plugged in, "
                                 "until " +
                                     std::to_string(o.maxJobs) + " jobs have finished"
                               : "production mode: flashing each handset as it is plugged in "
                                 "(Ctrl-C: take no more handsets; twice: stop the jobs)");
    const BarTextOf barText = [&runner](int ch) { return runner.Socket(ch).text; };
    // The system's device events, where udev runs: a handset swapped quicker than the runner
    // looks is told by its removal, and an arrival wakes the pump at once. (The runner's own
    // look is the back-up; a polling watch would add nothing to it.)
    std::array<std::string, kChannels> nodes{};  // what each socket's name led to when last seen
    DeviceWatcherOptions watchOptions;
    watchOptions.devRoot = o.devRoot;
    DeviceWatch watch(watchOptions, [&](const DeviceEvent& e) {
        if (e.arrived) return;
        for (int ch = 0; ch < kChannels; ++ch) {
            if (ports[ch] == 0) continue;
            if (names[ch] == e.name || (!nodes[ch].empty() && nodes[ch] == e.node)) {
                runner.DeviceLeft(ch);
            }
        }
    });
    if (watch.Start() != DeviceWatch::Mode::Udev) watch.Stop();
    StopSignals signals;
    int seen = 0;
    std::optional<std::chrono::steady_clock::time_point> cutAt;
    runner.Run([&](std::chrono::milliseconds interval) {
        for (int ch = 0; ch < kChannels; ++ch) {
            if (ports[ch] == 0) continue;
            std::string node = DEVICE_ResolvedNode(names[ch]);
            if (!node.empty()) nodes[ch] = std::move(node);
        }
        watch.Poll();
        // The runner starts jobs just before it calls here: each is seen as it starts.
        for (int ch = 0; ch < kChannels && !cut; ++ch) {
            if (runner.Socket(ch).state == SocketState::Running && !results.InFlight(ch)) {
                results.JobStarted(ch, names[ch]);
            }
        }
        const int count = signals.Count();
        if (count != seen) {
            seen = count;
            if (count == 1) {
                runner.RequestStop();
                display.Note(
                    "stopping: no more handsets are taken; running jobs finish "
                    "(Ctrl-C again stops them)");
            } else if (!cut) {
                // Each job is on record as it ends (the runner's job-end hook).
                cut = true;
                cutAt = std::chrono::steady_clock::now();
                runner.RequestAbort();
                display.Note("stopping the running jobs");
            }
        }
        results.Bars(display.Board());
        for (const std::string& line : results.TakeMessages()) display.Note(line);
        display.Refresh();
        if (cutAt && std::chrono::steady_clock::now() - *cutAt > kStopBound) {
            // A job that does not end when stopped is not waited for: on record and in the
            // report as stopped.
            for (int ch = 0; ch < kChannels; ++ch) {
                const SocketSnapshot socket = runner.Socket(ch);
                if (socket.state != SocketState::Running) continue;
                ContinuousJob job;
                job.channel = ch;
                job.device = names[ch];
                job.start = socket.start;
                job.end = std::chrono::system_clock::now();
                job.text = socket.text;
                report.Append(CLI_ContinuousReportLine(job));
            }
            results.Cut(barText);
            display.Finish();
            results.RunEnded(barText, err, kStopBound);
            if (!o.trace.empty()) DBG_TraceClose();
            std::fflush(nullptr);
            std::_Exit(kExitFailed);
        }
#ifndef _WIN32
        if (watch.PollFd() >= 0) {
            // Woken by the system's next device event, or after the interval.
            pollfd event{watch.PollFd(), POLLIN, 0};
            ::poll(&event, 1, static_cast<int>(interval.count()));
            watch.Poll();
            return;
        }
#endif
        std::this_thread::sleep_for(interval);
    });
    watch.Stop();
    display.Finish();
    results.RunEnded(barText, err, cut ? kStopBound : kResultsCloseBound);
    if (!o.trace.empty()) DBG_TraceClose();
    const ContinuousTotals totals = runner.Totals();
    if (outcome != nullptr) {
        outcome->done = totals.done;
        outcome->failed = totals.failed;
    }
    return totals.failed == 0 && !reportFailed ? kExitOk : kExitFailed;
}
