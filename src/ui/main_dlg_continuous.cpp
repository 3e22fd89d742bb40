// Production mode in the window: Download arms the station (its caption reads "Stop"), each
// channel with a port is a socket that runs a job whenever a handset arrives on it, each bar
// keeps its channel's last result and counts, and the status line shows the totals and the
// handsets per hour. Pressing Stop takes no more handsets and lets the running jobs finish.
#include <cstdio>

#include "config/settings.h"
#include "dialog_template.h"
#include "jobs/continuous_runner.h"
#include "jobs/download_plan.h"
#include "jobs/file_download.h"
#include "main_dlg.h"
#include "transport/port_table.h"
#include "ui_dialogs.h"

namespace {

constexpr const char* kStopCaption = "Stop";

}  // namespace

void CMainDlg::OnDownloadContinuous() {
    if (m_bArmed) {
        // Stop: no more handsets; the running jobs finish and then the station disarms.
        if (m_pContinuous != nullptr) m_pContinuous->RequestStop();
        EnableControl(IDC_DOWNLOAD, false);
        return;
    }
    if (m_bRunning == 1) return;
    if (!FillImagesFromControls()) return;
    ContinuousOptions options;
    for (int ch = 0; ch < kChannels; ++ch) {
        options.ports[ch] = m_nPort[ch];
        if (m_nPort[ch] != 0) options.devices[ch] = PORTTABLE_Device(m_nPort[ch]);
    }
    options.baud = static_cast<int>(g_dwBaudRate.load());
    options.settle = std::chrono::milliseconds(SETTINGS_RestartSettleMs(
        SETTINGS_FilePath(), static_cast<int>(kRestartSettleTime.count())));
    options.target = this;
    options.onJobEnd = [this](const ContinuousJob& job) {
        ResultsJobEnded(job);
        JudgeSocket(job);
        ShowJobResult(job);
        ShowSuspectBars();
    };
    PELOR_SetRunOptions(g_nDelay.load(), g_bFormat.load());
    ContinuousRunner runner(std::move(options));

    const std::string caption = ControlText(IDC_DOWNLOAD);
    m_pContinuous = &runner;
    m_bArmed = true;
    m_bRunning = 1;
    SetControlText(IDC_DOWNLOAD, kStopCaption);
    EnableControl(IDC_DOWNLOAD, true);
    SuspectsArmed();
    ShowLineTotals();
    ResultsSessionStarted();
    m_host.DownloadStarted();
    runner.Run([this, &runner](std::chrono::milliseconds bound) {
        // The jobs the runner has just started, before the window's events (a close among them)
        // are handled.
        ResultsJobsStarted();
        m_host.PumpEvents(bound);
        // The window was closed while armed (reject): stop the jobs as a closed run does.
        if (m_bRunning == 0) runner.RequestAbort();
    });
    m_pContinuous = nullptr;
    m_bArmed = false;
    SetControlText(IDC_DOWNLOAD, caption);
    if (m_bRunning == 1) {
        m_bRunning = 0;
        EnableDownload(AnyPort());
    }
    ShowLineTotals();
    ResultsRunEnded();
}

void CMainDlg::ShowJobResult(const ContinuousJob& job) {
    if (m_pContinuous == nullptr) return;
    const SocketSnapshot s = m_pContinuous->Socket(job.channel);
    char counts[64];
    std::snprintf(counts, sizeof counts, "  [done %d, failed %d]", s.done, s.failed);
    SetControlText(kChannelBarIds[job.channel],
                   std::string(job.ok ? "OK: " : "FAILED: ") + job.text + counts);
    m_host.ChannelBarShown(job.channel);
    ShowLineTotals();
}

void CMainDlg::ShowLineTotals() {
    if (m_pContinuous == nullptr) return;
    const ContinuousTotals t = m_pContinuous->Totals();
    char line[160];
    std::snprintf(line, sizeof line, "Armed: done %d, failed %d, running %d, %.0f handsets/h",
                  t.done, t.failed, t.running, t.perHour);
    SetControlText(IDC_STATUS_LINE, line + SuspectStatus());
}

void CMainDlg::OnArmedPortChange(int channel, int port) {
    if (m_pContinuous != nullptr) {
        m_pContinuous->SetSocketPort(channel, port, port != 0 ? PORTTABLE_Device(port) : "");
    }
}

void CMainDlg::OnArmedRemoval(int channel) {
    if (m_pContinuous == nullptr) return;
    // The runner sees the device gone at its next look as well, unless it is back by then (a
    // quick swap): told now, it takes what is there next for a new handset.
    m_pContinuous->DeviceLeft(channel);
    // Closing now spares the job its wait.
    if (m_pContinuous->Socket(channel).state == SocketState::Running) PELOR_ChannelGone(channel);
}
