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
#include "link/image_transfer.h"
#include "link/outcome.h"
#include "link/status_reporter.h"
#include "transport/serial_port.h"

static_assert(kPortChannels == kChannels, "a port setting for every channel");

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

int PELOR_Start(NotifyTarget* target, unsigned message, const std::array<int, kChannels>& ports,
                int baudRate) {
    Station& station = STATION_Current();
    station.notifyTarget = target;
    station.notifyMessage = message;
    for (int ch = 0; ch < kChannels; ++ch) {
        g_bChannelActive[ch] = ports[ch] != 0 ? 1 : 0;
        SERIAL_PORT_ClearWake(ch);
        {
            std::lock_guard lock(SERIAL_PORT_Mutex());
            g_hSerialDevice.Take(ch);
        }
        FRAME_Reset(ch);
        FLASH_DOWNLOADER_LinkStart(ch);
        OUTCOME_Clear(ch);
        // A file missing in an earlier run must not silence this run's partition alert.
        FLASH_DOWNLOADER_ClearFileMissing(ch);
        g_nChannelResult[ch] = ports[ch] != 0 ? -1 : 0;
        SERIAL_PORT_Start(ch, ports[ch], baudRate);
    }
    return 1;
}

void PELOR_SetRunOptions(int delayMs, int format) {
    SERIAL_PORT_SetWriteDelay(delayMs);
    LINK_SetFormat(format);
}

int PELOR_Stop() {
    for (int ch = 0; ch < kChannels; ++ch) {
        if (g_bChannelActive[ch] == 1) {
            g_bChannelActive[ch] = 0;
            SERIAL_PORT_Wake(ch);
            SERIAL_PORT_Stop(ch);
        }
    }
    Station& station = STATION_Current();
    station.notifyTarget = nullptr;
    station.notifyMessage = 0;
    return 1;
}

void PELOR_ClearImages() {
    for (int ch = 0; ch < kChannels; ++ch) {
        for (IMAGE_ENTRY& e : g_ImageTable[ch]) {
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
    STATION_Current().SetWorkerStarter(std::move(starter));
}

int PELOR_Run(const RunPump& pump) {
    Station& station = STATION_Current();
    std::array<std::thread, kChannels> workers;
    for (int ch = 0; ch < kChannels; ++ch) {
        if (g_nComPort[ch] == 0) continue;
        const bool started = station.StartWorker(workers[ch], ch, [ch] { FileDownload(ch); });
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
