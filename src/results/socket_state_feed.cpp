#include "results/socket_state_feed.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "results/server_target.h"

SocketStateFeed::SocketStateFeed(const ResultsConfig& config) {
    if (!config.enabled || !RESULTS_IsServerUrl(config.serverUrl) ||
        !RESULTS_NoServerReason().empty()) {
        return;
    }
    SocketStatesConfig c;
    c.serverUrl = config.serverUrl;
    c.station = config.station.empty() ? RESULTS_HostName() : config.station;
    c.server = config.server;
    c.retryInterval = config.retryInterval;
    c.retryMax = config.retryMax;
    publisher_ = std::make_unique<SocketStatePublisher>(std::move(c));
}

SocketStateFeed::~SocketStateFeed() = default;

void SocketStateFeed::PublishLocked(const SocketStateUpdate& update) {
    if (!IsChannel(update.channel)) return;
    std::optional<SocketStateUpdate>& held = sockets_[update.channel];
    if (held && *held == update) return;
    held = update;
    publisher_->Publish(update);
}

void SocketStateFeed::Idle(int channel, const std::string& device) {
    if (!publisher_ || !IsChannel(channel)) return;
    std::lock_guard lock(mu_);
    SocketStateUpdate u;
    u.channel = channel;
    u.device = device;
    if (const auto& held = sockets_[channel]) {
        u.suspect = held->suspect;
        u.jobStartedMs = held->jobStartedMs;
    }
    PublishLocked(u);
}

void SocketStateFeed::Started(int channel, const std::string& device, std::int64_t startMs) {
    if (!publisher_ || !IsChannel(channel)) return;
    std::lock_guard lock(mu_);
    SocketStateUpdate u;
    u.channel = channel;
    u.device = device;
    u.state = kSocketFlashing;
    u.jobStartedMs = startMs;
    if (const auto& held = sockets_[channel]) u.suspect = held->suspect;
    PublishLocked(u);
}

void SocketStateFeed::Progress(int channel, const BarState& bar) {
    if (!publisher_ || !IsChannel(channel)) return;
    std::lock_guard lock(mu_);
    const auto& held = sockets_[channel];
    if (!held || held->state != kSocketFlashing) return;
    SocketStateUpdate u = *held;
    RESULTS_CoarseProgress(bar, &u.progress, &u.text);
    PublishLocked(u);
}

void SocketStateFeed::Ended(const JobRecord& record) {
    if (!publisher_ || !IsChannel(record.channel)) return;
    std::lock_guard lock(mu_);
    SocketStateUpdate u;
    u.channel = record.channel;
    u.device = record.port;
    const bool done = record.result == kResultDone;
    u.state = done ? kSocketDone : kSocketFailed;
    u.progress = done ? 100 : 0;
    u.text = record.lastText;
    u.failStep = done ? "" : record.failStep;
    u.failReason = done ? "" : record.failReason;
    if (!RESULTS_ParseUtc(record.startedAt, &u.jobStartedMs)) u.jobStartedMs = 0;
    if (const auto& held = sockets_[record.channel]) {
        if (!held->device.empty()) u.device = held->device;
        u.suspect = held->suspect;
    }
    PublishLocked(u);
}

void SocketStateFeed::Suspect(int channel, const std::string& badge) {
    if (!publisher_ || !IsChannel(channel)) return;
    std::lock_guard lock(mu_);
    const auto& held = sockets_[channel];
    if (!held) return;
    SocketStateUpdate u = *held;
    u.suspect = badge;
    PublishLocked(u);
}

std::vector<std::string> SocketStateFeed::TakeMessages() {
    return publisher_ ? publisher_->TakeMessages() : std::vector<std::string>{};
}

void SocketStateFeed::Closing() {
    if (publisher_) publisher_->Closing();
}

void SocketStateFeed::Close(std::chrono::milliseconds bound) {
    if (publisher_) publisher_->Close(bound);
}

int SocketStateFeed::Rows() const {
    return publisher_ ? publisher_->Rows() : 0;
}

int SocketStateFeed::Batches() const {
    return publisher_ ? publisher_->Batches() : 0;
}

void RESULTS_CoarseProgress(const BarState& bar, int* percent, std::string* text) {
    const long long range = static_cast<long long>(bar.upper) - bar.lower;
    long long p = range > 0 ? (static_cast<long long>(bar.pos) - bar.lower) * 100 / range : 0;
    p = std::max(0LL, std::min(100LL, p));
    *percent = static_cast<int>(p / 10 * 10);
    // The exact percent in the text ("AMSS: 47% [2/3]") would change the row with every step.
    *text = bar.text;
    const auto sign = text->find('%');
    if (sign == std::string::npos) return;
    std::size_t digits = sign;
    while (digits > 0 && std::isdigit(static_cast<unsigned char>((*text)[digits - 1]))) --digits;
    if (digits == sign) return;
    const int shown = std::atoi(text->substr(digits, sign - digits).c_str());
    text->replace(digits, sign - digits, std::to_string(shown / 10 * 10));
}
