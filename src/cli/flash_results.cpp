#include "flash_results.h"

#include <algorithm>

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
    feed_ = std::make_unique<SocketStateFeed>(config);
    recorder_ = std::make_unique<ResultsRecorder>(std::move(config));
}

FlashResults::~FlashResults() = default;

void FlashResults::RunStarted(const std::array<std::string, kChannels>& ports) {
    run_ = std::make_unique<RunRecording>(*recorder_, ports);
    run_->OnRecorded([this](const JobRecord& r) { feed_->Ended(r); });
    ports_ = ports;
    const std::int64_t now = RESULTS_NowUnixMs();
    for (int ch = 0; ch < kChannels; ++ch) {
        if (!ports[ch].empty()) feed_->Started(ch, ports[ch], now);
    }
}

void FlashResults::SessionStarted(const std::array<std::string, kChannels>& ports) {
    run_ = std::make_unique<RunRecording>(*recorder_);
    run_->OnRecorded([this](const JobRecord& r) { feed_->Ended(r); });
    ports_ = ports;
    for (int ch = 0; ch < kChannels; ++ch) {
        if (!ports[ch].empty()) feed_->Idle(ch, ports[ch]);
    }
}

void FlashResults::JobStarted(int channel, const std::string& port) {
    const std::int64_t now = RESULTS_NowUnixMs();
    if (run_) run_->JobStarted(channel, port, now);
    feed_->Started(channel, port, now);
}

void FlashResults::Bars(const StatusBoard& board) {
    for (int ch = 0; ch < kChannels; ++ch) feed_->Progress(ch, board.bars[ch]);
}

void FlashResults::Suspect(int channel, const std::string& badge) {
    feed_->Suspect(channel, badge);
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
    std::vector<std::string> lines = recorder_->TakeMessages();
    for (std::string& line : feed_->TakeMessages()) lines.push_back(std::move(line));
    return lines;
}

void FlashResults::RunEnded(const BarTextOf& barText, std::FILE* err,
                            std::chrono::milliseconds bound) {
    const auto start = std::chrono::steady_clock::now();
    if (run_) run_->Finish(barText);
    // The sockets go 'off' while the rows go up: the two share the bound.
    feed_->Closing();
    recorder_->Close(bound);
    const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    feed_->Close(std::max(bound - spent, std::chrono::milliseconds(0)));
    for (const std::string& line : TakeMessages()) std::fprintf(err, "%s\n", line.c_str());
}
