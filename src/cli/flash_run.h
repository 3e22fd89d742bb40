#pragma once
// One download on up to eight channels from the command line, as the window's Download does.
#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "flash_results.h"
#include "transport/channels.h"

struct FlashOptions {
    std::vector<std::string> ports;  // device paths or COMn, channel 0 first
    std::string codeDir;             // the Code row's folder of ".mbn" images
    bool boot = false;               // Change Boot Area
    std::string erase = "none";      // none | all | except-backup
    std::string resource;            // the Resource row's image
    std::string resourceAddress;
    bool noFormat = false;
    std::string job;  // a job file to take the Code and Resource choices from
    int baud = 1382400;
    int delay = 2;
    std::string report;            // JSON report path
    std::string trace;             // trace file path
    bool live = false;             // redraw bars in place
    std::string devRoot = "/dev";  // where devices are watched for removal
    // Production mode (`--continuous`): each socket runs a job whenever a handset arrives.
    bool continuous = false;
    int maxJobs = 0;  // production mode: end after this many finished jobs (0 = no limit)
    ResultsOptions results;
};

struct ChannelOutcome {
    int channel = 0;
    std::string port;
    bool ok = false;
    std::string text;  // the bar's last text
    std::string why;   // why the port would not open ("permission denied", ...), else empty
    std::string step;  // where the job failed ("open", "unlock", ... "go"), empty when it did not
    std::string
        reason;  // why ("time-out", "refused", "port gone", ...), empty when it did not fail
    std::string detail;  // a short detail ("NAK 0x05", "no such device", ...)
    double seconds = 0;
    long long bytes = 0;  // image bytes handed to the link
    int goAnswered = -1;  // 1 the handset answered GO, 0 it did not, -1 the job ended before
};

struct FlashOutcome {
    bool ok = false;
    std::vector<ChannelOutcome> channels;
};

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// Runs the download; prints progress to out and problems to err. Returns the exit status:
// 0 every channel finished with everything acknowledged and neither CLOSE nor GO refused (GO
// may go unanswered: a handset may restart at once), 1 a channel failed, 2 a usage error or a
// missing or unreadable input (nothing was sent then).
int CLI_RunFlash(const FlashOptions& options, std::FILE* out, std::FILE* err,
                 FlashOutcome* outcome);

// What every download does before anything is sent: applies the job file, resolves the ports
// (channel n's port number and device in ports[n] and names[n]), puts the choices into the
// settings globals, fills the image table, checks that every image is readable and opens the
// trace. Returns kExitOk, or kExitUsage after printing the problem to err.
int CLI_PrepareFlash(FlashOptions& options, std::array<int, kChannels>& ports,
                     std::array<std::string, kChannels>& names, std::FILE* err);

// Writes the JSON report through a temporary file. 1 on success.
int CLI_WriteReport(const std::string& path, const FlashOutcome& outcome, std::string* error);
