#include "jobs/runner.h"

#include <cctype>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "config/settings.h"
#include "jobs/file_download.h"
#include "link/flash_downloader.h"
#include "link/frame.h"
#include "link/image_table.h"
#include "link/outcome.h"
#include "transport/serial_port.h"

static_assert(kPortChannels == kChannels, "a port setting for every channel");

namespace {

std::mutex g_StarterLock;
WorkerStarter g_Starter;

bool StartThread(std::thread& thread, int channel) {
    try {
        thread = std::thread(FileDownload, channel);
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

int PELOR_Start(NotifyTarget* target, unsigned message, const std::array<int, kChannels>& ports,
                int baudRate) {
    g_hNotifyWnd = target;
    g_uNotifyMsg = message;
    // What the lower layers take from the run: where they report, the write delay and the
    // format option, fixed for the run.
    LINK_SetReporter(&STATUS_Reporter());
    LINK_SetFormat(g_bFormat.load());
    SERIAL_PORT_SetWriteDelay(g_nDelay.load());
    for (int ch = 0; ch < kChannels; ++ch) {
        g_bChannelActive[ch] = ports[ch] != 0 ? 1 : 0;
        SERIAL_PORT_ClearWake(ch);
        {
            std::lock_guard lock(g_hPortMutex);
            g_hSerialDevice.Take(ch);
        }
        FRAME_Reset(ch);
        FLASH_DOWNLOADER_LinkStart(ch);
        OUTCOME_Clear(ch);
        g_nChannelResult[ch] = ports[ch] != 0 ? -1 : 0;
        SERIAL_PORT_Start(ch, ports[ch], baudRate);
    }
    return 1;
}

int PELOR_Stop() {
    for (int ch = 0; ch < kChannels; ++ch) {
        if (g_bChannelActive[ch] == 1) {
            g_bChannelActive[ch] = 0;
            SERIAL_PORT_Wake(ch);
            SERIAL_PORT_Stop(ch);
        }
    }
    g_hNotifyWnd = nullptr;
    g_uNotifyMsg = 0;
    return 1;
}

void PELOR_ClearImages() {
    for (auto& channel : g_ImageTable) {
        for (IMAGE_ENTRY& e : channel) {
            e.nSlot = -1;
            e.szPath[0] = '\0';
            e.dwAddress = 0xFFFFFFFFu;
            e.nSize = 0;
            e.nSent = 0;
        }
    }
}

std::uint32_t PELOR_ParseAddress(const char* text) {
    if (text == nullptr) return 0;
    const char* p = text;
    while (*p != '\0' && std::isspace(static_cast<unsigned char>(*p))) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = (*p == '-');
        ++p;
    }
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && HexDigit(p[2]) >= 0) p += 2;
    std::uint32_t value = 0;
    for (; HexDigit(*p) >= 0; ++p) value = (value << 4) | static_cast<std::uint32_t>(HexDigit(*p));
    return negative ? 0u - value : value;
}

int PELOR_SetImage(int slot, const char* path, const char* addressText) {
    if (slot < 0 || slot >= kSlots) return -1;
    const std::uint32_t address = PELOR_ParseAddress(addressText);
    for (int ch = 0; ch < kChannels; ++ch) {
        IMAGE_ENTRY& e = g_ImageTable[ch][slot];
        e.nSlot = slot;
        e.dwAddress = address;
        std::strncpy(e.szPath, path != nullptr ? path : "", sizeof e.szPath - 1);
        e.szPath[sizeof e.szPath - 1] = '\0';
        e.nSize = 0;
        e.nSent = 0;
    }
    return slot;
}

void PELOR_SetWorkerStarter(WorkerStarter starter) {
    std::lock_guard lock(g_StarterLock);
    g_Starter = std::move(starter);
}

int PELOR_Run(const RunPump& pump) {
    WorkerStarter starter;
    {
        std::lock_guard lock(g_StarterLock);
        starter = g_Starter;
    }
    std::array<std::thread, kChannels> workers;
    for (int ch = 0; ch < kChannels; ++ch) {
        if (g_nComPort[ch] == 0) continue;
        const bool started = starter ? starter(workers[ch], ch) : StartThread(workers[ch], ch);
        if (!started) {
            // Never wait on a worker that does not exist.
            OUTCOME_Clear(ch);
            OUTCOME_Record(ch, JobStep::Start, JobReason::System, -1,
                           "the worker could not be started");
            STATUS_ChannelPrintf(ch, "ERR: Thread");
            g_nChannelResult[ch] = 0;
            g_nComPort[ch] = 0;
        }
    }
    for (;;) {
        int busy = 0;
        for (int ch = 0; ch < kChannels; ++ch) busy += g_nComPort[ch] != 0 ? 1 : 0;
        if (busy == 0) break;
        if (pump) {
            pump(kRunPollInterval);
        } else {
            std::this_thread::sleep_for(kRunPollInterval);
        }
    }
    for (auto& worker : workers) {
        if (worker.joinable()) worker.join();
    }
    return 1;
}
