#pragma once
// `pelor flash` puts every channel's job on record, in a Download and in production mode: the
// options that choose where, and the recording of one run, each job as soon as it has ended.
// Recording to a line's server, it also publishes each socket's state for the line view.
#include <CLI/CLI.hpp>
#include <array>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "results/recorder.h"
#include "results/run_recording.h"
#include "results/socket_state_feed.h"
#include "transport/channels.h"

struct ResultsOptions {
    bool off = false;      // --no-results
    std::string server;    // --results URL
    std::string station;   // --station NAME
    std::string database;  // the station's store file; empty = the user's data folder
};

// --results, --no-results and --station of a command.
void CLI_AddResultsOptions(CLI::App* cmd, ResultsOptions& options);

class FlashResults {
public:
    // settingsPath: "pelorw.ini", for its "RESULTS" and "STATION" keys.
    FlashResults(const ResultsOptions& options, const std::string& settingsPath);
    ~FlashResults();
    // A Download: call after PELOR_Start, with each channel's port name (empty = not in the
    // run).
    void RunStarted(const std::array<std::string, kChannels>& ports);
    // Production mode: call when the station is armed (the image table is filled), with each
    // socket's port name (empty = none).
    void SessionStarted(const std::array<std::string, kChannels>& ports);
    // Production mode: a job starts on a socket, or has ended (its worker is done).
    void JobStarted(int channel, const std::string& port);
    void JobEnded(int channel, bool ok, const std::string& text);
    // The running jobs' bars, published in steps of 10%.
    void Bars(const StatusBoard& board);
    // A socket's suspect badge (empty: not suspect).
    void Suspect(int channel, const std::string& badge);
    // True while a job of the channel is not on record yet.
    bool InFlight(int channel) const;
    // From a Download's pump: records the jobs that have ended.
    void Poll(const BarTextOf& barText);
    // The second interrupt: the ended jobs are recorded as they ended, the running ones as
    // stopped ("interrupted"), at once.
    void Cut(const BarTextOf& barText);
    // Lines said since the last call (production mode shows them as they come).
    std::vector<std::string> TakeMessages();
    // After the run: records the rest, publishes every socket 'off', ends the uploader and the
    // publisher within bound (the server is given most of it) and tells err of any problem, one
    // line each.
    void RunEnded(const BarTextOf& barText, std::FILE* err,
                  std::chrono::milliseconds bound = kResultsCloseBound);

private:
    std::unique_ptr<ResultsRecorder> recorder_;
    std::unique_ptr<SocketStateFeed> feed_;
    std::array<std::string, kChannels> ports_;
    std::unique_ptr<RunRecording> run_;
};
