#pragma once
// The command line's display of production mode: per socket its bar with the current step or
// the last result and its counts (done, failed), and the totals with handsets per hour. Redrawn
// in place on a terminal; elsewhere one line per change ("ch<N> <text>"), one per finished job
// ("ch<N> done|FAILED ...") and the totals after each.
#include <array>
#include <cstdio>
#include <mutex>
#include <string>

#include "jobs/continuous_runner.h"
#include "jobs/status.h"
#include "jobs/status_board.h"

class ContinuousDisplay : public NotifyTarget {
public:
    ContinuousDisplay(std::FILE* out, bool live, std::array<std::string, kChannels> portNames);

    // The runner whose counts are shown; set before the runner starts.
    void Attach(const ContinuousRunner* runner) { runner_ = runner; }

    long OnStatusMessage(unsigned message, std::uintptr_t wParam, const void* lParam) override;
    void OnAlert(int channel, const char* text) override;

    // A finished job (on the runner's thread).
    void JobEnded(const ContinuousJob& job);
    // A socket's suspect flag: its badge ("SUSPECT: 3 of 5 failed (...)"), or empty when it is
    // not suspect; shown on its socket line and beside the totals.
    void SetSuspect(int channel, const std::string& badge);
    // A line about the station ("stopping: ...").
    void Note(const std::string& text);
    // What the bars show now.
    StatusBoard Board() const;
    // Redraws the live display when something changed.
    void Refresh();
    // Draws the final state and the totals.
    void Finish();

private:
    void DrawLocked();
    std::string SocketLine(int channel) const;
    std::string TotalsLine() const;

    std::FILE* out_;
    const bool live_;
    const std::array<std::string, kChannels> portNames_;
    const ContinuousRunner* runner_ = nullptr;
    mutable std::mutex mu_;
    StatusBoard board_;
    std::array<std::string, kChannels> suspect_;
    bool dirty_ = true;
    int drawnLines_ = 0;
};
