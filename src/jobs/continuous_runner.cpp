#include "jobs/continuous_runner.h"

#include <system_error>

#include "jobs/file_download.h"
#include "link/flash_downloader.h"
#include "link/frame.h"
#include "link/image_table.h"
#include "link/image_transfer.h"
#include "link/outcome.h"
#include "transport/port_identity.h"
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
    // Each job is a run of its own: a file missing for an earlier handset does not silence
    // this one's partition alert.
    FLASH_DOWNLOADER_ClearFileMissing(channel);
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

std::string ContinuousRunner::Identity(int channel) const {
    if (options_.present) return options_.present(channel) ? "present" : "";
    return PORT_PRESENCE_Identity(options_.devices[channel]);
}

void ContinuousRunner::DeviceLeft(int channel) {
    if (IsChannel(channel) && sockets_[channel].state != SocketState::Unused) {
        sockets_[channel].left = true;
    }
}

std::string ContinuousRunner::Serial(int channel) const {
    if (options_.serial) return options_.serial(channel);
    return PORT_IDENTITY_SerialNumber(options_.devices[channel]);
}

bool ContinuousRunner::Settling(const SocketRecord& s) const {
    if (!s.settling) return false;
    const std::uint32_t since = SERIAL_PORT_Clock().TickMs() - s.goTick;
    return since < static_cast<std::uint32_t>(options_.settle.count());
}

void ContinuousRunner::Arrival(int channel) {
    SocketRecord& s = sockets_[channel];
    s.left = false;
    s.removed = false;  // whatever left during the last job, a handset is here now
    s.identity = Identity(channel);
    const std::string serial = Serial(channel);
    bool checking = false;
    if (Settling(s)) {
        if (!serial.empty() && serial == s.serial) {
            // The handset just flashed, back after its restart.
            TakeAsRestart(channel);
            return;
        }
        // Another serial number is another handset; without one on either side, only the
        // unlock can tell.
        checking = serial.empty() || s.serial.empty();
    } else {
        s.settling = false;
    }
    if (!serial.empty() || !checking) s.serial = serial;
    StartJob(channel, checking);
}

void ContinuousRunner::TakeAsRestart(int channel) {
    SocketRecord& s = sockets_[channel];
    quiet_[channel] = false;
    std::lock_guard lock(mu_);
    // It stays until the operator takes it: as after its job, the socket waits for it to
    // leave. The last job's result stays shown.
    s.state = s.removed ? SocketState::Empty : SocketState::Finished;
    s.view.state = s.state;
    ++s.view.restarts;
    ++restarts_;
}

void ContinuousRunner::StartJob(int channel, bool checking) {
    SocketRecord& s = sockets_[channel];
    CONTINUOUS_ArmChannel(channel, options_.ports[channel], options_.baud);
    g_nUnlocked[channel] = 0;
    s.removed = false;
    s.start = std::chrono::system_clock::now();
    if (!checking) s.settling = false;
    quiet_[channel] = checking;
    {
        std::lock_guard lock(mu_);
        s.state = checking ? SocketState::Checking : SocketState::Running;
        s.view.state = s.state;
        if (!checking) {
            s.view.start = s.start;
            s.view.text.clear();
        }
    }
    // A check takes its place among the jobs until it turns out to be a restart.
    ++started_;
    if (!STATION_Current().StartWorker(s.worker, channel, [channel] { FileDownload(channel); })) {
        // Never wait on a worker that does not exist.
        OUTCOME_Record(channel, JobStep::Start, JobReason::System, -1,
                       "the worker could not be started");
        quiet_[channel] = false;
        {
            std::lock_guard lock(mu_);
            s.state = SocketState::Running;
            s.view.state = s.state;
        }
        STATUS_ChannelPrintf(channel, "ERR: Thread");
        g_nChannelResult[channel] = 0;
        g_nComPort[channel] = 0;
    }
}

void ContinuousRunner::ReapWorker(int channel) {
    SocketRecord& s = sockets_[channel];
    if (s.worker.joinable()) s.worker.join();
    // The job closed its port; the channel takes no part until its next arrival.
    g_bChannelActive[channel] = 0;
    SERIAL_PORT_Stop(channel);
}

void ContinuousRunner::EndJob(int channel) {
    SocketRecord& s = sockets_[channel];
    ReapWorker(channel);

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
    // A handset that took GO restarts (after a failed slot too: the close procedure sends it):
    // for the settle time, a handset coming back may be it.
    s.settling = g_nGoSent[channel] != 0;
    s.goTick = SERIAL_PORT_Clock().TickMs();
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
            const SocketState state = sockets_[ch].state;
            if (state == SocketState::Running || state == SocketState::Checking) {
                PELOR_CloseChannel(ch);
            }
        }
    }
    for (int ch = 0; ch < kChannels; ++ch) {
        SocketRecord& s = sockets_[ch];
        switch (s.state) {
            case SocketState::Unused:
                break;
            case SocketState::Checking:
                if (g_nComPort[ch] == 0 && g_nUnlocked[ch] == 0) {
                    // It did not answer the unlock: the handset just flashed, restarting.
                    ReapWorker(ch);
                    s.removed = s.removed || SERIAL_PORT_IsGone(ch) != 0;
                    --started_;
                    TakeAsRestart(ch);
                    break;
                }
                if (g_nUnlocked[ch] != 0) {
                    // In download mode: a new handset, and its job counts.
                    std::lock_guard lock(mu_);
                    s.state = SocketState::Running;
                    s.view.state = s.state;
                    s.view.start = s.start;
                    s.settling = false;
                }
                [[fallthrough]];
            case SocketState::Running:
                if (g_nComPort[ch] == 0) {
                    EndJob(ch);
                } else if (!s.removed && (!Present(ch) || (s.left && Identity(ch) != s.identity))) {
                    // The handset left mid-job: only this job ends, at once. A removal the
                    // system reports late, of the handset before this one, ends nothing.
                    s.removed = true;
                    PELOR_ChannelGone(ch);
                }
                s.left = false;
                break;
            case SocketState::Finished:
                // Gone now, or gone and back since the job began (a swap quicker than a look,
                // told by the system's event or by what is there now being another device).
                if (s.left || Identity(ch) != s.identity) {
                    s.left = false;
                    std::lock_guard lock(mu_);
                    s.state = SocketState::Empty;
                    s.view.state = SocketState::Empty;
                }
                break;
            case SocketState::Empty: {
                const bool room = options_.maxJobs <= 0 || started_ < options_.maxJobs;
                if (!stop_.load() && room && Present(ch)) Arrival(ch);
                break;
            }
        }
    }
}

bool ContinuousRunner::AnyRunning() const {
    for (const SocketRecord& s : sockets_) {
        if (s.state == SocketState::Running || s.state == SocketState::Checking) return true;
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
    if (!IsChannel(channel) || sockets_[channel].state == SocketState::Running ||
        sockets_[channel].state == SocketState::Checking) {
        return 0;
    }
    options_.ports[channel] = port;
    options_.devices[channel] = device;
    std::lock_guard lock(mu_);
    SocketRecord& s = sockets_[channel];
    // A new port is a new socket: whatever is plugged in there now counts as an arrival.
    s.state = port != 0 ? SocketState::Empty : SocketState::Unused;
    s.view.state = s.state;
    s.settling = false;
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
    t.restarts = restarts_;
    for (const SocketRecord& s : sockets_) t.running += s.view.state == SocketState::Running;
    const double hours =
        std::chrono::duration<double, std::ratio<3600>>(std::chrono::steady_clock::now() - began_)
            .count();
    if (hours > 0) t.perHour = (done_ + failed_) / hours;
    return t;
}

long ContinuousRunner::OnStatusMessage(unsigned message, std::uintptr_t wParam,
                                       const void* lParam) {
    const bool ofChannel = wParam == STATUS_CHANNEL_TEXT || wParam == STATUS_PROGRESS;
    if (message == WM_DOWNLOAD_STATUS && ofChannel && lParam != nullptr) {
        const int ch = static_cast<const IMAGE_ENTRY*>(lParam)->nChannel;
        // A check's texts are not shown until its handset answered the unlock (this worker
        // set the flag itself before its next text).
        if (IsChannel(ch) && quiet_[ch].load()) {
            if (g_nUnlocked[ch] == 0) return 0;
            quiet_[ch] = false;
        }
    }
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
