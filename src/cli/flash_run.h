#pragma once
// One download on up to eight channels from the command line, as the window's Download does.
#include <cstdio>
#include <string>
#include <vector>

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
    std::string report;  // JSON report path
    std::string trace;   // trace file path
    bool live = false;   // redraw bars in place
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
};

struct FlashOutcome {
    bool ok = false;
    std::vector<ChannelOutcome> channels;
};

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// Runs the download; prints progress to out and problems to err. Returns the exit status:
// 0 every channel finished with everything acknowledged, 1 a channel failed, 2 a usage error
// or a missing or unreadable input (nothing was sent then).
int CLI_RunFlash(const FlashOptions& options, std::FILE* out, std::FILE* err,
                 FlashOutcome* outcome);

// Writes the JSON report through a temporary file. 1 on success.
int CLI_WriteReport(const std::string& path, const FlashOutcome& outcome, std::string* error);
