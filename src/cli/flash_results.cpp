#include "flash_results.h"

#include <chrono>

#include "console_display.h"
#include "results/recorder.h"
#include "results/results_settings.h"
#include "results/run_recording.h"

namespace {
// How long `pelor flash` waits at its end for a reachable server to take the run's rows; what
// is not sent by then goes up with a later run.
constexpr std::chrono::milliseconds kUploadGrace{10000};
}  // namespace

void CLI_AddResultsOptions(CLI::App* cmd, ResultsOptions& options) {
    cmd->add_flag("--no-results", options.off,
                  "Keep no record of this run's jobs (by default each job is recorded in the "
                  "station's results store, see `pelor results`)");
    cmd->add_option("--results", options.server,
                    "Also record each job on a line's server, postgresql://[USER@]HOST/DATABASE "
                    "(default: the RESULTS key of pelorw.ini); rows wait on this station while "
                    "the server cannot be reached")
        ->type_name("URL");
    cmd->add_option("--station", options.station,
                    "The station's name on record (default: the STATION key of pelorw.ini, "
                    "else the host name)")
        ->type_name("NAME");
}

FlashResults::FlashResults(const ResultsOptions& options, const std::string& settingsPath) {
    ResultsConfig config =
        RESULTS_Config(settingsPath, options.server, options.station, options.off);
    config.databasePath = options.database;
    recorder_ = std::make_unique<ResultsRecorder>(std::move(config));
}

FlashResults::~FlashResults() = default;

void FlashResults::RunStarted(const std::array<std::string, kChannels>& ports) {
    run_ = std::make_unique<RunRecording>(*recorder_, ports);
}

void FlashResults::Poll(const ConsoleDisplay& display) {
    if (run_) run_->Poll([&display](int ch) { return display.Board().bars[ch].text; });
}

void FlashResults::RunEnded(const ConsoleDisplay& display, std::FILE* err) {
    if (run_) run_->Finish([&display](int ch) { return display.Board().bars[ch].text; });
    recorder_->Flush(kUploadGrace);
    for (const std::string& line : recorder_->TakeMessages()) {
        std::fprintf(err, "%s\n", line.c_str());
    }
    if (recorder_->Waiting() > 0) {
        std::fprintf(err, "results: %d job(s) wait on this station for the results server\n",
                     recorder_->Waiting());
    }
}
