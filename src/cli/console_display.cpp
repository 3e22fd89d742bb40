#include "console_display.h"

#include <algorithm>

#include "jobs/file_download.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

bool CLI_IsTerminal(std::FILE* stream) {
#ifdef _WIN32
    return _isatty(_fileno(stream)) != 0;
#else
    return ::isatty(::fileno(stream)) != 0;
#endif
}

ConsoleDisplay::ConsoleDisplay(std::FILE* out, bool live,
                               std::array<std::string, kChannels> portNames)
    : out_(out), live_(live), portNames_(std::move(portNames)) {}

long ConsoleDisplay::OnStatusMessage(unsigned message, std::uintptr_t wParam, const void* lParam) {
    if (message != WM_DOWNLOAD_STATUS) return 0;
    std::lock_guard lock(mu_);
    int channel = -1;
    std::array<std::string, kChannels> texts;
    for (int ch = 0; ch < kChannels; ++ch) texts[ch] = board_.bars[ch].text;
    const int change = board_.Apply(wParam, lParam, &channel);
    const auto now = std::chrono::steady_clock::now();
    if (change == StatusBoard::BAR && IsChannel(channel)) {
        if (!seen_[channel]) first_[channel] = now;
        seen_[channel] = true;
        last_[channel] = now;
        if (!live_ && board_.bars[channel].text != texts[channel]) {
            std::fprintf(out_, "ch%d %s\n", channel, board_.bars[channel].text.c_str());
            std::fflush(out_);
        }
    } else if (change == StatusBoard::STATION && !live_) {
        std::fprintf(out_, "station %s\n", board_.station.c_str());
        std::fflush(out_);
    }
    dirty_ = dirty_ || change != StatusBoard::NONE;
    return 0;
}

void ConsoleDisplay::OnAlert(int channel, const char* text) {
    std::lock_guard lock(mu_);
    if (live_ && drawnLines_ > 0) {
        // Print the alert above the bars, then draw them again below it.
        std::fprintf(out_, "\x1b[%dA\x1b[J", drawnLines_);
        drawnLines_ = 0;
        dirty_ = true;
    }
    std::fprintf(out_, "ch%d alert: %s\n", channel, text);
    std::fflush(out_);
}

std::string ConsoleDisplay::BarLine(int channel) const {
    const BarState& bar = board_.bars[channel];
    constexpr int kWidth = 24;
    const double span = bar.upper - bar.lower;
    double f = span > 0 ? (bar.pos - bar.lower) / span : 0.0;
    f = std::clamp(f, 0.0, 1.0);
    const int filled = static_cast<int>(f * kWidth);
    std::string line = "ch" + std::to_string(channel) + " ";
    std::string port = portNames_[channel];
    if (port.size() > 14) port = "..." + port.substr(port.size() - 11);
    port.resize(14, ' ');
    line += port + " [" + std::string(filled, '#') + std::string(kWidth - filled, '.') + "] ";
    line += bar.text;
    return line;
}

std::string ConsoleDisplay::StationLine() const {
    int channels = 0, running = 0, done = 0, failed = 0;
    for (int ch = 0; ch < kChannels; ++ch) {
        if (portNames_[ch].empty()) continue;
        ++channels;
        const int result = g_nChannelResult[ch].load();
        if (result == 1) {
            ++done;
        } else if (result == 0) {
            ++failed;
        } else if (seen_[ch]) {
            ++running;
        }
    }
    std::string line = std::to_string(running + done + failed) + " of " + std::to_string(channels) +
                       " started, " + std::to_string(done) + " done, " + std::to_string(failed) +
                       " failed";
    if (!board_.station.empty()) line += "  " + board_.station;
    return line;
}

void ConsoleDisplay::DrawLocked() {
    if (drawnLines_ > 0) std::fprintf(out_, "\x1b[%dA", drawnLines_);
    int lines = 0;
    for (int ch = 0; ch < kChannels; ++ch) {
        if (portNames_[ch].empty()) continue;
        std::fprintf(out_, "\x1b[2K%s\n", BarLine(ch).c_str());
        ++lines;
    }
    std::fprintf(out_, "\x1b[2Kstation %s\n", StationLine().c_str());
    ++lines;
    std::fflush(out_);
    drawnLines_ = lines;
    dirty_ = false;
}

void ConsoleDisplay::Refresh() {
    std::lock_guard lock(mu_);
    if (live_ && dirty_) DrawLocked();
}

void ConsoleDisplay::Finish() {
    std::lock_guard lock(mu_);
    if (live_) DrawLocked();
}

StatusBoard ConsoleDisplay::Board() const {
    std::lock_guard lock(mu_);
    return board_;
}

double ConsoleDisplay::Seconds(int channel) const {
    std::lock_guard lock(mu_);
    if (!IsChannel(channel) || !seen_[channel]) return 0.0;
    return std::chrono::duration<double>(last_[channel] - first_[channel]).count();
}
