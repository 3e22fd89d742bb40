#pragma once
// Status messages: every text and progress update of a worker travels as one synchronous
// message to the registered notification target; the sender returns only after the target
// has handled it.
#include <atomic>
#include <cstdint>

#include "link/status_reporter.h"
#include "transport/trace.h"

inline constexpr unsigned WM_USER_BASE = 0x400;
inline constexpr unsigned WM_DOWNLOAD_STATUS = WM_USER_BASE + 100;  // 0x464

enum StatusKind : std::uintptr_t {
    STATUS_PROGRESS = 1,      // lParam: the IMAGE_ENTRY of the image being transferred
    STATUS_STATION_TEXT = 2,  // lParam: a NUL-terminated text
    STATUS_CHANNEL_TEXT = 3,  // lParam: an IMAGE_ENTRY with nChannel and the text in szPath
};

inline constexpr int kStationTextSize = 4096;

// Where status messages go: the window (which hands them to its own thread and waits) or the
// command line (which handles them under a lock). Both calls are synchronous.
class NotifyTarget {
public:
    virtual ~NotifyTarget() = default;
    // Handles one message; the sender's data stays valid and unchanged until this returns.
    virtual long OnStatusMessage(unsigned message, std::uintptr_t wParam, const void* lParam) = 0;
    // An operator alert from a channel's worker ("Downloader Version Incorrect !!!!!!").
    // Returns when the operator has seen it; the other channels go on meanwhile.
    virtual void OnAlert(int channel, const char* text) = 0;
};

// The registered target and message number are the station's (Station::notifyTarget and
// notifyMessage): set by PELOR_Start, cleared by PELOR_Stop.

// Station status line text (cut at 4095 characters).
void STATUS_Printf(const char* format, ...) PELOR_PRINTF(1, 2);
// Channel text (cut at the record's text capacity).
void STATUS_ChannelPrintf(int channel, const char* format, ...) PELOR_PRINTF(2, 3);
// Sends the station's message to its target and returns the handler's result; with either unset,
// traces "PELOR_SendMessage() Ignore!\n" and returns 0.
long PELOR_SendMessage(std::uintptr_t wParam, const void* lParam);
// Operator alert; without a target it is only traced.
void STATUS_Alert(int channel, const char* text);

// The link's reporter as the status messages: channel texts as STATUS_ChannelPrintf, progress as
// a STATUS_PROGRESS message of the entry itself.
StatusReporter& STATUS_Reporter();
