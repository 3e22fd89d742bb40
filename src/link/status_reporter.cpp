#include "link/status_reporter.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

#include "link/station_links.h"

void LINK_SetReporter(StatusReporter* reporter) {
    LINK_Station().reporter = reporter;
}

void LINK_ChannelPrintf(int channel, const char* format, ...) {
    StatusReporter* reporter = LINK_Station().reporter.load();
    if (reporter == nullptr) return;
    char text[kImagePathSize];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    reporter->ChannelText(channel, text);
}

void LINK_Progress(const IMAGE_ENTRY& entry) {
    StatusReporter* reporter = LINK_Station().reporter.load();
    if (reporter != nullptr) reporter->Progress(entry);
}

void LINK_SetFormat(int format) {
    LINK_Station().format = format == 1 ? 1 : 0;
}

int LINK_Format() {
    return LINK_Station().format.load(std::memory_order_relaxed);
}
