#include "transport/trace.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>

namespace {

// The sink's state. kUnknown until the first use looks at PELOR_TRACE.
enum TraceState : int { kUnknown = 0, kOff = 1, kOn = 2 };

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

std::atomic<int> g_traceState{kUnknown};
std::mutex g_traceMutex;
std::unique_ptr<std::FILE, FileCloser> g_traceFile;  // guarded by g_traceMutex

// Opens path for appending; call with g_traceMutex held.
bool OpenLocked(const std::string& path) {
    g_traceFile.reset();
    if (path.empty()) {
        g_traceState.store(kOff, std::memory_order_release);
        return true;
    }
#if defined(_WIN32)
    std::FILE* f = std::fopen(path.c_str(), "a");
#else
    std::FILE* f = std::fopen(path.c_str(), "ae");  // close-on-exec
#endif
    g_traceFile.reset(f);
    g_traceState.store(f ? kOn : kOff, std::memory_order_release);
    return f != nullptr;
}

// Settles kUnknown from the environment, once.
int ResolveState() {
    std::lock_guard<std::mutex> lock(g_traceMutex);
    int state = g_traceState.load(std::memory_order_acquire);
    if (state != kUnknown) return state;
    const char* path = std::getenv("PELOR_TRACE");
    OpenLocked(path ? std::string(path) : std::string());
    return g_traceState.load(std::memory_order_acquire);
}

// "2026-12-07 05:44:04.123 " in local time.
void FormatTimestamp(std::array<char, 32>& out) {
    const auto now = std::chrono::system_clock::now();
    const std::time_t secs = std::chrono::system_clock::to_time_t(now);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
    std::tm local{};
#if defined(_WIN32)
    localtime_s(&local, &secs);
#else
    localtime_r(&secs, &local);
#endif
    const std::size_t n = std::strftime(out.data(), out.size(), "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(out.data() + n, out.size() - n, ".%03d ", static_cast<int>(ms.count()));
}

}  // namespace

void DBG_Trace(const char* format, ...) {
    int state = g_traceState.load(std::memory_order_relaxed);
    if (state == kOff) return;
    if (state == kUnknown && ResolveState() != kOn) return;
    if (format == nullptr) return;

    std::array<char, 512> small{};
    std::string large;
    const char* text = small.data();

    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int needed = std::vsnprintf(small.data(), small.size(), format, args);
    va_end(args);
    if (needed < 0) {
        va_end(again);
        return;
    }
    if (static_cast<std::size_t>(needed) >= small.size()) {
        large.resize(static_cast<std::size_t>(needed) + 1);
        std::vsnprintf(large.data(), large.size(), format, again);
        large.resize(static_cast<std::size_t>(needed));
        text = large.c_str();
    }
    va_end(again);

    std::array<char, 32> stamp{};
    FormatTimestamp(stamp);
    const bool endsLine = needed > 0 && text[needed - 1] == '\n';

    std::lock_guard<std::mutex> lock(g_traceMutex);
    if (!g_traceFile) return;
    std::FILE* f = g_traceFile.get();
    std::fputs(stamp.data(), f);
    std::fwrite(text, 1, static_cast<std::size_t>(needed), f);
    if (!endsLine) std::fputc('\n', f);
    std::fflush(f);
}

int DBG_TraceOpen(const std::string& path) {
    std::lock_guard<std::mutex> lock(g_traceMutex);
    return OpenLocked(path) ? 1 : 0;
}

void DBG_TraceClose() {
    std::lock_guard<std::mutex> lock(g_traceMutex);
    OpenLocked(std::string());
}

bool DBG_TraceEnabled() {
    int state = g_traceState.load(std::memory_order_relaxed);
    if (state == kUnknown) state = ResolveState();
    return state == kOn;
}
