#include "jobs/status.h"

#include <cstdarg>
#include <cstdio>

#include "jobs/station.h"
#include "link/image_table.h"

namespace {

class StatusMessages final : public StatusReporter {
public:
    void ChannelText(int channel, const char* text) override {
        STATUS_ChannelPrintf(channel, "%s", text);
    }
    void Progress(const IMAGE_ENTRY& entry) override { PELOR_SendMessage(STATUS_PROGRESS, &entry); }
};

void Deliver(std::uintptr_t kind, const void* lParam) {
    NotifyTarget* target = STATION_Current().notifyTarget.load();
    const unsigned message = STATION_Current().notifyMessage.load();
    if (target == nullptr) return;  // a message to no window is simply not delivered
    target->OnStatusMessage(message, kind, lParam);
}

}  // namespace

void STATUS_Printf(const char* format, ...) {
    char text[kStationTextSize];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    Deliver(STATUS_STATION_TEXT, text);
}

void STATUS_ChannelPrintf(int channel, const char* format, ...) {
    IMAGE_ENTRY record{};
    record.nSlot = 0;
    record.dwAddress = 0;
    record.nChannel = channel;
    va_list args;
    va_start(args, format);
    std::vsnprintf(record.szPath, sizeof record.szPath, format, args);
    va_end(args);
    Deliver(STATUS_CHANNEL_TEXT, &record);
}

long PELOR_SendMessage(std::uintptr_t wParam, const void* lParam) {
    NotifyTarget* target = STATION_Current().notifyTarget.load();
    const unsigned message = STATION_Current().notifyMessage.load();
    if (target == nullptr || message == 0) {
        DBG_Trace("PELOR_SendMessage() Ignore!\n");
        return 0;
    }
    return target->OnStatusMessage(message, wParam, lParam);
}

void STATUS_Alert(int channel, const char* text) {
    NotifyTarget* target = STATION_Current().notifyTarget.load();
    DBG_Trace("[Ch %d] %s\n", channel, text);
    if (target != nullptr) target->OnAlert(channel, text);
}

StatusReporter& STATUS_Reporter() {
    static StatusMessages messages;
    return messages;
}
