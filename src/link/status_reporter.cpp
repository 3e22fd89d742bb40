#include "link/status_reporter.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace {

std::atomic<StatusReporter*> g_Reporter{nullptr};
std::atomic<int> g_Format{1};

}  // namespace

void LINK_SetReporter(StatusReporter* reporter) {
    g_Reporter = reporter;
}

void LINK_ChannelPrintf(int channel, const char* format, ...) {
    StatusReporter* reporter = g_Reporter.load();
    if (reporter == nullptr) return;
    char text[kImagePathSize];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    reporter->ChannelText(channel, text);
}

void LINK_Progress(const IMAGE_ENTRY& entry) {
    StatusReporter* reporter = g_Reporter.load();
    if (reporter != nullptr) reporter->Progress(entry);
}

void LINK_SetFormat(int format) {
    g_Format = format == 1 ? 1 : 0;
}

int LINK_Format() {
    return g_Format.load(std::memory_order_relaxed);
}
