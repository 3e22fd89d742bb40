#include "flash_results.h"

#include "results/results_settings.h"

void CLI_AddResultsOptions(CLI::App* cmd, ResultsOptions& options) {
    cmd->add_flag("--no-results", options.off,
                  "Keep no record of this run's jobs (by default each job is recorded in the "
                  "station's results store, see `pelor results`)");
    cmd->add_option("--results", options.server,
                    "Also record each job on a line's server, postgresql://[USER@]HOST/DATABASE "
                    "(default: the RESULTS key of pelorw.ini); rows the server cannot take now "
                    "(it cannot be reached, or does not answer within a few seconds) wait on "
                    "this station and go up with a later run")
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

void FlashResults::SessionStarted() {
    run_ = std::make_unique<RunRecording>(*recorder_);
}

void FlashResults::JobStarted(int channel, const std::string& port) {
    if (run_) run_->JobStarted(channel, port, RESULTS_NowUnixMs());
}

void FlashResults::JobEnded(int channel, bool ok, const std::string& text) {
    if (run_) run_->JobEnded(channel, ok, text);
}

bool FlashResults::InFlight(int channel) const {
    return run_ && run_->InFlight(channel);
}

void FlashResults::Poll(const BarTextOf& barText) {
    if (run_) run_->Poll(barText);
}

void FlashResults::Cut(const BarTextOf& barText) {
    if (run_) run_->Cut("interrupted", barText);
}

std::vector<std::string> FlashResults::TakeMessages() {
    return recorder_->TakeMessages();
}

void FlashResults::RunEnded(const BarTextOf& barText, std::FILE* err,
                            std::chrono::milliseconds bound) {
    if (run_) run_->Finish(barText);
    recorder_->Close(bound);
    for (const std::string& line : recorder_->TakeMessages()) {
        std::fprintf(err, "%s\n", line.c_str());
    }
}
