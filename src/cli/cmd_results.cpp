// `pelor results`: what the record says: jobs, failures and yield per day and station,
// failures by step and reason, each socket, how fast; as text, JSON or CSV, or a plot.
#include <cstdio>
#include <memory>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "cli_commands.h"
#include "config/settings.h"
#include "flash_run.h"
#include "results/results_store.h"
#include "results/summary.h"
#include "results/suspect_sockets.h"
#include "results_plot.h"

namespace {

// How far back suspect sockets are looked for when no --since is given.
constexpr std::int64_t kSuspectLookBackMs = 7LL * 24 * 3600 * 1000;

struct ResultsCommandOptions {
    std::string server;
    std::string database;
    std::string since;
    std::string station;
    bool json = false;
    bool csv = false;
    std::string plot;
};

}  // namespace

// "YYYY-MM-DD", a full UTC time, or "Nd" / "Nh" back from now, as a UTC time text; false when
// the text is none of these.
bool CLI_SinceTime(const std::string& text, std::int64_t nowMs, std::string* utc) {
    std::int64_t ms = 0;
    if (text.size() >= 2 && (text.back() == 'd' || text.back() == 'h') &&
        text.find_first_not_of("0123456789") == text.size() - 1) {
        // A count reaching before 1970 keeps the whole record; one too long to count is refused.
        if (text.size() > 19) return false;
        const long long n = std::stoll(text.substr(0, text.size() - 1));
        const std::int64_t unit = text.back() == 'd' ? 86400000LL : 3600000LL;
        ms = n > nowMs / unit ? 0 : nowMs - n * unit;
    } else if (text.size() == 10 && RESULTS_ParseUtc(text + "T00:00:00Z", &ms)) {
    } else if (!RESULTS_ParseUtc(text, &ms)) {
        return false;
    }
    *utc = RESULTS_FormatUtc(ms);
    return true;
}

int CLI_RunResults(const std::string& server, const std::string& database,
                   const ResultsFilter& filter, bool json, bool csv, const std::string& plot,
                   std::FILE* out, std::FILE* err) {
    std::string error;
    std::unique_ptr<ResultsStore> store;
    LocalResultsStore* local = nullptr;
    if (!server.empty()) {
        if (!RESULTS_IsServerUrl(server)) {
            std::fprintf(err, "error: --results takes postgresql://[USER@]HOST/DATABASE\n");
            return kExitUsage;
        }
        // The bounds of a session that reads: the server may take a while over a line's whole
        // record, but one that falls silent is given up.
        store = RESULTS_OpenServerStore(server, &error, RESULTS_ReadingLimits());
    } else {
        const std::string path = database.empty() ? RESULTS_DefaultDatabasePath() : database;
        std::FILE* probe = path.empty() ? nullptr : std::fopen(path.c_str(), "rb");
        if (probe == nullptr) {
            std::fprintf(err, "no results on this station yet (%s)\n",
                         path.empty() ? "no data folder" : path.c_str());
            return kExitFailed;
        }
        std::fclose(probe);
        std::unique_ptr<LocalResultsStore> file = RESULTS_OpenLocalStore(path, &error);
        local = file.get();
        store = std::move(file);
    }
    if (!store) {
        std::fprintf(err, "error: %s\n", error.c_str());
        return kExitFailed;
    }
    // Every row for the CSV; else the summary, which a server makes itself.
    std::vector<JobRecord> records;
    ResultsSummary summary;
    if (csv ? !store->Load(filter, &records, &error)
            : !store->Summarise(filter, &summary, &error)) {
        std::fprintf(err, "error: cannot read the results: %s\n", error.c_str());
        return kExitFailed;
    }
    if (csv && !plot.empty()) summary = RESULTS_Summarise(records);
    if (!csv) {
        // Suspect sockets from the rows themselves: of the period asked, else the last week.
        ResultsFilter recent = filter;
        if (recent.since.empty()) {
            recent.since = RESULTS_FormatUtc(RESULTS_NowUnixMs() - kSuspectLookBackMs);
        }
        std::vector<JobRecord> rows;
        if (!store->Load(recent, &rows, &error)) {
            std::fprintf(err, "error: cannot read the results: %s\n", error.c_str());
            return kExitFailed;
        }
        summary.suspects = RESULTS_SuspectSockets(rows, RESULTS_SuspectRule(SETTINGS_FilePath()));
    }
    std::vector<RefusedJob> refused;
    if (local != nullptr && !local->Refused(&refused, &error)) {
        std::fprintf(err, "error: cannot read the results: %s\n", error.c_str());
        return kExitFailed;
    }
    for (RefusedJob& r : refused) {
        if (RESULTS_Passes(filter, r.record)) summary.refused.push_back(std::move(r));
    }
    if (csv) {
#ifdef _WIN32
        // The CSV ends its lines in CRLF itself: no text-mode translation (CR CR LF) on the way.
        std::fflush(out);
        const int mode = _setmode(_fileno(out), _O_BINARY);
        std::fputs(RESULTS_RecordsCsv(records).c_str(), out);
        std::fflush(out);
        if (mode != -1) _setmode(_fileno(out), mode);
#else
        std::fputs(RESULTS_RecordsCsv(records).c_str(), out);
#endif
    } else if (json) {
        std::fputs(RESULTS_SummaryJson(summary).c_str(), out);
    } else if (plot.empty()) {
        std::fputs(RESULTS_SummaryText(summary).c_str(), out);
    }
    if (!plot.empty()) {
        if (CLI_Plot(summary, plot, &error) != 1) {
            std::fprintf(err, "error: %s\n", error.c_str());
            return kExitFailed;
        }
        if (!csv && !json) std::fprintf(out, "wrote %s\n", plot.c_str());
    }
    return kExitOk;
}

void CLI_AddResultsCommand(CLI::App& app, int& exitCode) {
    auto o = std::make_shared<ResultsCommandOptions>();
    CLI::App* cmd = app.add_subcommand(
        "results",
        "Summarise the record of flashed handsets. Jobs, failures and yield per day and "
        "station, sockets failing markedly more than their station's others (suspect, with the "
        "evidence: their last jobs, failures by reason, the others' record in the same period; "
        "judged on the --since period, else the last 7 days), failures by step and reason, each "
        "socket (channel and device), the median "
        "job time and throughput, and the jobs the results server refused for good (kept on "
        "this station only), from this station's results store unless --results names a "
        "line's server.\nExit status 0, or 1 when there is nothing to read or it cannot be "
        "read.");
    cmd->add_option("--results", o->server,
                    "Read a line's server instead: postgresql://[USER@]HOST/DATABASE")
        ->type_name("URL");
#ifdef _WIN32
    const char* defaultFile = "%LOCALAPPDATA%\\pelor\\results.db";
#else
    const char* defaultFile = "$XDG_DATA_HOME/pelor/results.db";
#endif
    cmd->add_option("--db", o->database,
                    std::string("Read this results file instead of the station's own (default: ") +
                        defaultFile + ")")
        ->type_name("FILE");
    cmd->add_option("--since", o->since,
                    "Only jobs started at or after this: YYYY-MM-DD, a UTC time "
                    "(2026-12-07T08:00:00Z), or 7d / 12h back from now")
        ->type_name("WHEN");
    cmd->add_option("--station", o->station, "Only this station's jobs")->type_name("NAME");
    auto* json = cmd->add_flag("--json", o->json, "The summary as JSON");
    cmd->add_flag("--csv", o->csv, "Every job as one CSV line, for spreadsheets")->excludes(json);
    cmd->add_option("--plot", o->plot, "Draw jobs per hour and yield over time (needs gnuplot)")
        ->type_name("FILE.png");
    cmd->callback([o, &exitCode] {
        ResultsFilter filter;
        filter.station = o->station;
        if (!o->since.empty() && !CLI_SinceTime(o->since, RESULTS_NowUnixMs(), &filter.since)) {
            std::fprintf(stderr, "error: --since takes YYYY-MM-DD, a UTC time, or Nd / Nh\n");
            exitCode = kExitUsage;
            return;
        }
        exitCode = CLI_RunResults(o->server, o->database, filter, o->json, o->csv, o->plot, stdout,
                                  stderr);
    });
}
