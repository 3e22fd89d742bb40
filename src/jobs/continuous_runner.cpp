#include "jobs/continuous_runner.h"

#include <system_error>

#include "jobs/file_download.h"
#include "link/flash_downloader.h"
#include "link/frame.h"
#include "link/image_table.h"
#include "link/outcome.h"
#include "transport/port_presence.h"
#include "transport/serial_port.h"

void CONTINUOUS_ArmChannel(int channel, int port, int baudRate) {
    if (!IsChannel(channel)) return;
    g_bChannelActive[channel] = 1;
    SERIAL_PORT_ClearWake(channel);
    {
        std::lock_guard lock(SERIAL_PORT_Mutex());
        g_hSerialDevice.Take(channel);
    }
    // The frame layer takes the port's bytes again; the run (PELOR_Start) has given the link
    // its target; the station has its reporter, format option and write delay.
    FRAME_Reset(channel);
    FLASH_DOWNLOADER_LinkStart(channel);
    OUTCOME_Clear(channel);
    // A slot the last job never reached must not count its bytes again.
    for (IMAGE_ENTRY& e : g_ImageTable[channel]) {
        e.nSize = 0;
        e.nSent = 0;
    }
    g_nChannelResult[channel] = -1;
    SERIAL_PORT_Start(channel, port, baudRate);
}

ContinuousRunner::ContinuousRunner(ContinuousOptions options) : options_(std::move(options)) {
    if (options_.poll < std::chrono::milliseconds(1)) options_.poll = std::chrono::milliseconds(1);
    for (int ch = 0; ch < kChannels; ++ch) {
        if (options_.ports[ch] != 0) sockets_[ch].view.state = SocketState::Empty;
        sockets_[ch].state = sockets_[ch].view.state;
    }
}

ContinuousRunner::~ContinuousRunner() {
    // Run joins every worker before it returns; a runner destroyed while Run is still on the
    // stack is a caller's fault, but no thread is left running on destroyed state.
    for (int ch = 0; ch < kChannels; ++ch) {
        if (sockets_[ch].worker.joinable()) {
            PELOR_CloseChannel(ch);
            sockets_[ch].worker.join();
        }
    }
}

bool ContinuousRunner::Present(int channel) const {
    if (options_.present) return options_.present(channel);
    return PORT_PRESENCE_Exists(options_.devices[channel]) != 0;
}

void ContinuousRunner::StartJob(int channel) {
    SocketRecord& s = sockets_[channel];
    CONTINUOUS_ArmChannel(channel, options_.ports[channel], options_.baud);
    s.removed = false;
    s.start = std::chrono::system_clock::now();
    {
        std::lock_guard lock(mu_);
        s.state = SocketState::Running;
        s.view.state = SocketState::Running;
        s.view.start = s.start;
        s.view.text.clear();
    }
    ++started_;
    if (!STATION_Current().StartWorker(s.worker, channel, [channel] { FileDownload(channel); })) {
        // Never wait on a worker that does not exist.
        OUTCOME_Record(channel, JobStep::Start, JobReason::System, -1,
                       "the worker could not be started");
        STATUS_ChannelPrintf(channel, "ERR: Thread");
        g_nChannelResult[channel] = 0;
        g_nComPort[channel] = 0;
    }
}

void ContinuousRunner::EndJob(int channel) {
    SocketRecord& s = sockets_[channel];
    if (s.worker.joinable()) s.worker.join();
    // The job closed its port; the channel takes no part until its next arrival.
    g_bChannelActive[channel] = 0;
    SERIAL_PORT_Stop(channel);

    ContinuousJob job;
    job.channel = channel;
    job.device = options_.devices[channel];
    job.start = s.start;
    job.end = std::chrono::system_clock::now();
    job.ok = g_nChannelResult[channel] == 1;
    // A port that vanished under the job means its handset left, even when the device is back
    // before the next look (a quick swap): whatever is there now is a new arrival.
    job.removed = s.removed || SERIAL_PORT_IsGone(channel) != 0;
    s.removed = job.removed;
    for (const IMAGE_ENTRY& e : g_ImageTable[channel]) job.bytes += e.nSent;
    {
        std::lock_guard lock(mu_);
        job.text = s.view.text;
        s.view.hasResult = true;
        s.view.lastOk = job.ok;
        (job.ok ? s.view.done : s.view.failed) += 1;
        (job.ok ? done_ : failed_) += 1;
        // A handset that left during its job makes room for the next arrival at once; one
        // still there waits to be taken away.
        s.state = s.removed ? SocketState::Empty : SocketState::Finished;
        s.view.state = s.state;
    }
    if (options_.onJobEnd) options_.onJobEnd(job);
}

void ContinuousRunner::Pass() {
    if (abort_.load() && !aborted_) {
        aborted_ = true;
        for (int ch = 0; ch < kChannels; ++ch) {
            if (sockets_[ch].state == SocketState::Running) PELOR_CloseChannel(ch);
        }
    }
    for (int ch = 0; ch < kChannels; ++ch) {
        SocketRecord& s = sockets_[ch];
        switch (s.state) {
            case SocketState::Unused:
                break;
            case SocketState::Running:
                if (g_nComPort[ch] == 0) {
                    EndJob(ch);
                } else if (!s.removed && !Present(ch)) {
                    // The handset left mid-job: only this job ends, at once.
                    s.removed = true;
                    PELOR_ChannelGone(ch);
                }
                break;
            case SocketState::Finished:
                if (!Present(ch)) {
                    std::lock_guard lock(mu_);
                    s.state = SocketState::Empty;
                    s.view.state = SocketState::Empty;
                }
                break;
            case SocketState::Empty: {
                const bool room = options_.maxJobs <= 0 || started_ < options_.maxJobs;
                if (!stop_.load() && room && Present(ch)) StartJob(ch);
                break;
            }
        }
    }
}

bool ContinuousRunner::AnyRunning() const {
    for (const SocketRecord& s : sockets_) {
        if (s.state == SocketState::Running) return true;
    }
    return false;
}

int ContinuousRunner::Run(const RunPump& pump) {
    {
        std::lock_guard lock(mu_);
        began_ = std::chrono::steady_clock::now();
    }
    // Every channel idle: the sockets are armed one by one as their handsets arrive.
    const std::array<int, kChannels> none{};
    PELOR_Start(this, WM_DOWNLOAD_STATUS, none, options_.baud);
    for (;;) {
        Pass();
        const bool limitReached = options_.maxJobs > 0 && started_ >= options_.maxJobs;
        if ((stop_.load() || limitReached) && !AnyRunning()) break;
        if (pump) {
            pump(options_.poll);
        } else {
            std::this_thread::sleep_for(options_.poll);
        }
    }
    PELOR_Stop();
    std::lock_guard lock(mu_);
    return failed_ == 0 ? 1 : 0;
}

int ContinuousRunner::SetSocketPort(int channel, int port, const std::string& device) {
    if (!IsChannel(channel) || sockets_[channel].state == SocketState::Running) return 0;
    options_.ports[channel] = port;
    options_.devices[channel] = device;
    std::lock_guard lock(mu_);
    SocketRecord& s = sockets_[channel];
    // A new port is a new socket: whatever is plugged in there now counts as an arrival.
    s.state = port != 0 ? SocketState::Empty : SocketState::Unused;
    s.view.state = s.state;
    return 1;
}

SocketSnapshot ContinuousRunner::Socket(int channel) const {
    if (!IsChannel(channel)) return {};
    std::lock_guard lock(mu_);
    return sockets_[channel].view;
}

ContinuousTotals ContinuousRunner::Totals() const {
    std::lock_guard lock(mu_);
    ContinuousTotals t;
    t.done = done_;
    t.failed = failed_;
    for (const SocketRecord& s : sockets_) t.running += s.view.state == SocketState::Running;
    const double hours =
        std::chrono::duration<double, std::ratio<3600>>(std::chrono::steady_clock::now() - began_)
            .count();
    if (hours > 0) t.perHour = (done_ + failed_) / hours;
    return t;
}

long ContinuousRunner::OnStatusMessage(unsigned message, std::uintptr_t wParam,
                                       const void* lParam) {
    if (message == WM_DOWNLOAD_STATUS && wParam == STATUS_CHANNEL_TEXT && lParam != nullptr) {
        const auto& e = *static_cast<const IMAGE_ENTRY*>(lParam);
        if (IsChannel(e.nChannel)) {
            std::lock_guard lock(mu_);
            sockets_[e.nChannel].view.text = e.szPath;
        }
    }
    return options_.target != nullptr ? options_.target->OnStatusMessage(message, wParam, lParam)
                                      : 0;
}

void ContinuousRunner::OnAlert(int channel, const char* text) {
    if (options_.target != nullptr) options_.target->OnAlert(channel, text);
}
