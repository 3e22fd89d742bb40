#pragma once
// `pelor flash` puts every channel's job on record: the options that choose where, and the
// recording of one run, each job as soon as it has ended.
#include <CLI/CLI.hpp>
#include <array>
#include <cstdio>
#include <memory>
#include <string>

#include "transport/channels.h"

struct ResultsOptions {
    bool off = false;      // --no-results
    std::string server;    // --results URL
    std::string station;   // --station NAME
    std::string database;  // the station's store file; empty = the user's data folder
};

// --results, --no-results and --station of a command.
void CLI_AddResultsOptions(CLI::App* cmd, ResultsOptions& options);

class ConsoleDisplay;
class ResultsRecorder;
class RunRecording;

class FlashResults {
public:
    // settingsPath: "pelorw.ini", for its "RESULTS" and "STATION" keys.
    FlashResults(const ResultsOptions& options, const std::string& settingsPath);
    ~FlashResults();
    // Call after PELOR_Start, with each channel's port name (empty = not in the run).
    void RunStarted(const std::array<std::string, kChannels>& ports);
    // From the run's pump: records the jobs that have ended.
    void Poll(const ConsoleDisplay& display);
    // After PELOR_Stop: records the rest, gives the server a moment to take the rows and tells
    // err of any problem (one line each).
    void RunEnded(const ConsoleDisplay& display, std::FILE* err);

private:
    std::unique_ptr<ResultsRecorder> recorder_;
    std::unique_ptr<RunRecording> run_;
};
