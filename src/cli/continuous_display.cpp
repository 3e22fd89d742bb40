#include "continuous_display.h"

#include <algorithm>

namespace {

std::string Counts(const SocketSnapshot& s) {
    return "done " + std::to_string(s.done) + " failed " + std::to_string(s.failed);
}

}  // namespace

ContinuousDisplay::ContinuousDisplay(std::FILE* out, bool live,
                                     std::array<std::string, kChannels> portNames)
    : out_(out), live_(live), portNames_(std::move(portNames)) {}

long ContinuousDisplay::OnStatusMessage(unsigned message, std::uintptr_t wParam,
                                        const void* lParam) {
    if (message != WM_DOWNLOAD_STATUS) return 0;
    std::lock_guard lock(mu_);
    int channel = -1;
    std::array<std::string, kChannels> texts;
    for (int ch = 0; ch < kChannels; ++ch) texts[ch] = board_.bars[ch].text;
    const int change = board_.Apply(wParam, lParam, &channel);
    if (change == StatusBoard::BAR && IsChannel(channel) && !live_ &&
        board_.bars[channel].text != texts[channel]) {
        std::fprintf(out_, "ch%d %s\n", channel, board_.bars[channel].text.c_str());
        std::fflush(out_);
    } else if (change == StatusBoard::STATION && !live_) {
        std::fprintf(out_, "station %s\n", board_.station.c_str());
        std::fflush(out_);
    }
    dirty_ = dirty_ || change != StatusBoard::NONE;
    return 0;
}

void ContinuousDisplay::OnAlert(int channel, const char* text) {
    std::lock_guard lock(mu_);
    if (live_ && drawnLines_ > 0) {
        std::fprintf(out_, "\x1b[%dA\x1b[J", drawnLines_);
        drawnLines_ = 0;
        dirty_ = true;
    }
    std::fprintf(out_, "ch%d alert: %s\n", channel, text);
    std::fflush(out_);
}

void ContinuousDisplay::JobEnded(const ContinuousJob& job) {
    std::lock_guard lock(mu_);
    if (!live_ && runner_ != nullptr) {
        const SocketSnapshot s = runner_->Socket(job.channel);
        std::fprintf(out_, "ch%d %s %s (%s)\n", job.channel, job.ok ? "done" : "FAILED",
                     job.text.c_str(), Counts(s).c_str());
        std::fprintf(out_, "%s\n", TotalsLine().c_str());
        std::fflush(out_);
    }
    dirty_ = true;
}

void ContinuousDisplay::SetSuspect(int channel, const std::string& badge) {
    if (!IsChannel(channel)) return;
    std::lock_guard lock(mu_);
    suspect_[channel] = badge;
    dirty_ = true;
}

void ContinuousDisplay::Note(const std::string& text) {
    std::lock_guard lock(mu_);
    if (live_ && drawnLines_ > 0) {
        std::fprintf(out_, "\x1b[%dA\x1b[J", drawnLines_);
        drawnLines_ = 0;
    }
    std::fprintf(out_, "%s\n", text.c_str());
    std::fflush(out_);
    dirty_ = true;
}

std::string ContinuousDisplay::TotalsLine() const {
    if (runner_ == nullptr) return "total";
    const ContinuousTotals t = runner_->Totals();
    char line[160];
    std::snprintf(line, sizeof line, "total done %d failed %d running %d, %.0f handsets/h", t.done,
                  t.failed, t.running, t.perHour);
    std::string text = line;
    for (int ch = 0; ch < kChannels; ++ch) {
        if (suspect_[ch].empty()) continue;
        text += text.find("suspect:") == std::string::npos ? ", suspect: ch" : " ch";
        text += std::to_string(ch);
    }
    // Handsets back on their socket after GO: neither flashed again nor counted.
    if (t.restarts > 0) text += ", " + std::to_string(t.restarts) + " back after a restart";
    return text;
}

std::string ContinuousDisplay::SocketLine(int channel) const {
    const BarState& bar = board_.bars[channel];
    const SocketSnapshot s = runner_ != nullptr ? runner_->Socket(channel) : SocketSnapshot{};
    constexpr int kWidth = 20;
    const double span = bar.upper - bar.lower;
    double f = span > 0 ? (bar.pos - bar.lower) / span : 0.0;
    f = std::clamp(f, 0.0, 1.0);
    const int filled = s.state == SocketState::Running ? static_cast<int>(f * kWidth) : 0;
    std::string port = portNames_[channel];
    if (port.size() > 14) port = "..." + port.substr(port.size() - 11);
    port.resize(14, ' ');
    std::string text;
    switch (s.state) {
        case SocketState::Running:
            text = bar.text;
            break;
        case SocketState::Finished:
            text = std::string(s.lastOk ? "done: " : "FAILED: ") + s.text + " (unplug)";
            break;
        case SocketState::Checking:
            text = std::string(s.lastOk ? "done: " : "FAILED: ") + s.text +
                   " (a handset is back: restarted, or new?)";
            break;
        default:
            text = s.hasResult
                       ? std::string(s.lastOk ? "done: " : "FAILED: ") + s.text + " (waiting)"
                       : "waiting for a handset";
            break;
    }
    char counts[48];
    std::snprintf(counts, sizeof counts, "%4d ok %3d failed ", s.done, s.failed);
    if (!suspect_[channel].empty()) text = suspect_[channel] + " | " + text;
    return "ch" + std::to_string(channel) + " " + port + " [" + std::string(filled, '#') +
           std::string(kWidth - filled, '.') + "] " + counts + text;
}

void ContinuousDisplay::DrawLocked() {
    if (drawnLines_ > 0) std::fprintf(out_, "\x1b[%dA", drawnLines_);
    int lines = 0;
    for (int ch = 0; ch < kChannels; ++ch) {
        if (portNames_[ch].empty()) continue;
        std::fprintf(out_, "\x1b[2K%s\n", SocketLine(ch).c_str());
        ++lines;
    }
    std::fprintf(out_, "\x1b[2K%s\n", TotalsLine().c_str());
    std::fprintf(out_, "\x1b[2Kstation %s\n", board_.station.c_str());
    lines += 2;
    std::fflush(out_);
    drawnLines_ = lines;
    dirty_ = false;
}

StatusBoard ContinuousDisplay::Board() const {
    std::lock_guard lock(mu_);
    return board_;
}

void ContinuousDisplay::Refresh() {
    std::lock_guard lock(mu_);
    // The handsets-per-hour figure changes with time: redraw at least on every pass.
    if (live_) DrawLocked();
}

void ContinuousDisplay::Finish() {
    std::lock_guard lock(mu_);
    if (live_) {
        DrawLocked();
    } else {
        std::fprintf(out_, "%s\n", TotalsLine().c_str());
        std::fflush(out_);
    }
}
