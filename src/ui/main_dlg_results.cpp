// Every job on record, in a Download and in production mode: the station's results store and,
// when "pelorw.ini" names one ("RESULTS"), a line's server. The status line shows the session's
// count when a run ends. Closing the window during a run puts the jobs on record first.
// Recording to a line's server, the window also publishes each socket's state there (idle while
// armed and waiting, flashing with its bar, done or failed as recorded, the suspect badge, off
// when the window ends).
#include <cstdio>

#include "config/settings.h"
#include "dialog_template.h"
#include "jobs/continuous_runner.h"
#include "main_dlg.h"
#include "results/results_settings.h"
#include "transport/port_table.h"
#include "transport/station_ports.h"

namespace {

// How long closing the window during a run may take to put its jobs on record.
constexpr std::chrono::milliseconds kCloseBound{1000};

// A channel's port as the record names it: its device, else its COM number.
std::string PortName(int port) {
    std::string name = PORTTABLE_Device(port);
    return name.empty() ? "COM" + std::to_string(port) : name;
}

}  // namespace

void CMainDlg::ResultsOpen() {
    m_stationTextBeforeRun = m_board.station;
    if (!m_results) {
        ResultsConfig config = RESULTS_Config(SETTINGS_FilePath(), "", "", !m_bKeepResults);
        m_published = std::make_unique<SocketStateFeed>(config);
        m_results = std::make_unique<ResultsRecorder>(std::move(config));
    }
}

void CMainDlg::PublishBars() {
    if (!m_published) return;
    for (int ch = 0; ch < kChannels; ++ch) m_published->Progress(ch, m_board.bars[ch]);
    for (const std::string& line : m_published->TakeMessages()) {
        std::fprintf(stderr, "pelor-station: %s\n", line.c_str());
        if (m_bArmed) {
            SetControlText(IDC_STATUS_LINE, ControlText(IDC_STATUS_LINE) + "  |  " + line);
        }
    }
}

void CMainDlg::PublishSuspects() {
    if (!m_published) return;
    for (int ch = 0; ch < kChannels; ++ch) {
        SuspectEvidence e;
        const bool suspect = m_suspects && m_suspects->Evidence(ch, &e);
        m_published->Suspect(ch, suspect ? RESULTS_SuspectBadge(e) : "");
    }
}

void CMainDlg::PublishOff(std::chrono::milliseconds bound) {
    if (m_published) m_published->Close(bound);
}

void CMainDlg::ResultsRunStarted() {
    ResultsOpen();
    std::array<std::string, kChannels> ports;
    for (int ch = 0; ch < kChannels; ++ch) {
        if (m_nPort[ch] != 0) ports[ch] = PortName(m_nPort[ch]);
    }
    m_resultsRun = std::make_unique<RunRecording>(*m_results, ports);
    m_resultsRun->OnRecorded([this](const JobRecord& r) { m_published->Ended(r); });
    const std::int64_t now = RESULTS_NowUnixMs();
    for (int ch = 0; ch < kChannels; ++ch) {
        if (!ports[ch].empty()) m_published->Started(ch, ports[ch], now);
    }
}

void CMainDlg::ResultsSessionStarted() {
    ResultsOpen();
    m_resultsRun = std::make_unique<RunRecording>(*m_results);
    m_resultsRun->OnRecorded([this](const JobRecord& r) { m_published->Ended(r); });
    for (int ch = 0; ch < kChannels; ++ch) {
        if (m_nPort[ch] != 0) m_published->Idle(ch, PortName(m_nPort[ch]));
    }
    PublishSuspects();
}

void CMainDlg::ResultsJobsStarted() {
    if (!m_resultsRun || m_pContinuous == nullptr) return;
    for (int ch = 0; ch < kChannels; ++ch) {
        if (m_pContinuous->Socket(ch).state == SocketState::Running &&
            !m_resultsRun->InFlight(ch) && m_nPort[ch] != 0) {
            const std::int64_t now = RESULTS_NowUnixMs();
            m_resultsRun->JobStarted(ch, PortName(m_nPort[ch]), now);
            m_published->Started(ch, PortName(m_nPort[ch]), now);
        }
    }
    PublishBars();
}

void CMainDlg::ResultsJobEnded(const ContinuousJob& job) {
    if (m_resultsRun) m_resultsRun->JobEnded(job.channel, job.ok, job.text);
}

void CMainDlg::ResultsPoll() {
    if (m_resultsRun) m_resultsRun->Poll([this](int ch) { return m_board.bars[ch].text; });
    PublishBars();
}

void CMainDlg::ResultsCutOff(const std::string& reason) {
    const auto start = std::chrono::steady_clock::now();
    const BarTextOf barText = [this](int ch) { return m_board.bars[ch].text; };
    auto running = [] {
        for (int ch = 0; ch < kChannels; ++ch) {
            if (g_nComPort[ch] != 0) return true;
        }
        return false;
    };
    // The stopped jobs end within moments; their workers hand their last texts to the window.
    while (running() && std::chrono::steady_clock::now() - start < kCloseBound / 2) {
        m_host.PumpEvents(std::chrono::milliseconds(5));
        ResultsPoll();
    }
    if (!m_resultsRun) return;
    m_resultsRun->Cut(reason, barText);
    m_resultsRun.reset();
    // The sockets go 'off' while the rows go up, within the same bound. What the server has
    // not taken within the bound goes up with a later run.
    if (m_published) m_published->Closing();
    const auto spent = [&start] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start);
    };
    m_results->Close(std::max(kCloseBound - spent(), std::chrono::milliseconds(0)));
    PublishOff(std::max(kCloseBound - spent(), std::chrono::milliseconds(0)));
    for (const std::string& p : m_published->TakeMessages()) {
        std::fprintf(stderr, "pelor-station: %s\n", p.c_str());
    }
    for (const std::string& p : m_results->TakeMessages()) {
        std::fprintf(stderr, "pelor-station: %s\n", p.c_str());
    }
}

void CMainDlg::ResultsRunEnded() {
    if (!m_resultsRun) return;
    m_resultsRun->Finish([this](int ch) { return m_board.bars[ch].text; });
    m_resultsRun.reset();
    if (!m_results->Enabled()) return;
    const std::vector<std::string> problems = m_results->TakeMessages();
    for (const std::string& p : problems) std::fprintf(stderr, "pelor-station: %s\n", p.c_str());
    if (m_bContinuous) {
        // The status line keeps the line's totals; a problem is added to them.
        if (!problems.empty()) {
            SetControlText(IDC_STATUS_LINE,
                           ControlText(IDC_STATUS_LINE) + "  |  " + problems.back());
        }
        return;
    }
    std::string line;
    if (m_board.station != m_stationTextBeforeRun) line = m_board.station + "  |  ";
    line += "Session: " + std::to_string(m_results->SessionDone()) + " done / " +
            std::to_string(m_results->SessionFailed()) + " failed";
    if (!problems.empty()) line += "  |  " + problems.back();
    SetControlText(IDC_STATUS_LINE, line);
}

int CMainDlg::ResultsDone() const {
    return m_results ? m_results->SessionDone() : 0;
}

int CMainDlg::ResultsFailed() const {
    return m_results ? m_results->SessionFailed() : 0;
}
