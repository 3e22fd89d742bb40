#pragma once
// The command line's notification target: one captioned bar per channel, redrawn in place on
// a terminal, or one line per change ("ch<N> <text>", "station <text>") anywhere else.
#include <array>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>

#include "jobs/status.h"
#include "jobs/status_board.h"

class ConsoleDisplay : public NotifyTarget {
public:
    // live: redraw bars in place (a terminal); otherwise print plain lines.
    ConsoleDisplay(std::FILE* out, bool live, std::array<std::string, kChannels> portNames);

    long OnStatusMessage(unsigned message, std::uintptr_t wParam, const void* lParam) override;
    void OnAlert(int channel, const char* text) override;

    // Redraws the live display when something changed (called by the runner's pump).
    void Refresh();
    // Draws the final state and leaves the cursor below it.
    void Finish();

    StatusBoard Board() const;
    // Seconds from a channel's first message to its last, 0 when it had none.
    double Seconds(int channel) const;

private:
    void DrawLocked();
    std::string BarLine(int channel) const;
    // The live station line: how far the run is ("3 of 8 started, 1 done, 0 failed"), then
    // the station's own text, if any.
    std::string StationLine() const;

    std::FILE* out_;
    const bool live_;
    const std::array<std::string, kChannels> portNames_;
    mutable std::mutex mu_;
    StatusBoard board_;
    bool dirty_ = true;
    int drawnLines_ = 0;
    std::array<std::chrono::steady_clock::time_point, kChannels> first_{};
    std::array<std::chrono::steady_clock::time_point, kChannels> last_{};
    std::array<bool, kChannels> seen_{};
};

bool CLI_IsTerminal(std::FILE* stream);
