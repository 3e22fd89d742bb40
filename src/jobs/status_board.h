#pragma once
// What the station shows for each status message: the station status line and, per channel,
// a captioned bar with its text, range and position. The window draws it on its progress
// bars; the command line prints it. Both apply the messages through this one rule.
#include <array>
#include <cstdint>
#include <string>

#include "transport/channels.h"

struct IMAGE_ENTRY;

// Name of a slot in progress texts ("AMSS", "Resource", ...).
const char* STATUS_SlotName(int slot);
// The progress text of an entry: "%s: %d%% [%d/%d]", or "Done" when nSent equals nSize.
std::string STATUS_ProgressText(const IMAGE_ENTRY& entry);
// The percentage shown: nSent / (nSize / 100), or nSent * 100 / nSize below 100 bytes.
int STATUS_ProgressPercent(std::int64_t sent, std::int64_t size);

struct BarState {
    std::string text;
    int lower = 0;
    int upper = 100;
    int pos = 0;
};

struct StatusBoard {
    std::array<BarState, kChannels> bars;
    std::string station;

    enum Change { NONE = 0, BAR = 1, STATION = 2 };
    // Applies one message as the window does; returns what changed and, for a bar, which
    // channel (in *channel).
    int Apply(std::uintptr_t kind, const void* lParam, int* channel);
};
