// Every Download's jobs on record: the station's results store and, when "pelorw.ini" names one
// ("RESULTS"), a line's server. The status line shows the session's count when a run ends.
#include <cstdio>

#include "config/settings.h"
#include "dialog_template.h"
#include "main_dlg.h"
#include "results/results_settings.h"
#include "transport/port_table.h"

void CMainDlg::ResultsRunStarted() {
    m_stationTextBeforeRun = m_board.station;
    if (!m_results) {
        ResultsConfig config = RESULTS_Config(SETTINGS_FilePath(), "", "", !m_bKeepResults);
        m_results = std::make_unique<ResultsRecorder>(std::move(config));
    }
    std::array<std::string, kChannels> ports;
    for (int ch = 0; ch < kChannels; ++ch) {
        if (m_nPort[ch] != 0) {
            ports[ch] = PORTTABLE_Device(m_nPort[ch]);
            if (ports[ch].empty()) ports[ch] = "COM" + std::to_string(m_nPort[ch]);
        }
    }
    m_resultsRun = std::make_unique<RunRecording>(*m_results, ports);
}

void CMainDlg::ResultsPoll() {
    if (m_resultsRun) m_resultsRun->Poll([this](int ch) { return m_board.bars[ch].text; });
}

void CMainDlg::ResultsRunEnded() {
    if (!m_resultsRun) return;
    m_resultsRun->Finish([this](int ch) { return m_board.bars[ch].text; });
    m_resultsRun.reset();
    if (!m_results->Enabled()) return;
    std::string line;
    if (m_board.station != m_stationTextBeforeRun) line = m_board.station + "  |  ";
    line += "Session: " + std::to_string(m_results->SessionDone()) + " done / " +
            std::to_string(m_results->SessionFailed()) + " failed";
    const std::vector<std::string> problems = m_results->TakeMessages();
    for (const std::string& p : problems) std::fprintf(stderr, "pelor-station: %s\n", p.c_str());
    if (!problems.empty()) line += "  |  " + problems.back();
    SetControlText(IDC_STATUS_LINE, line);
}

int CMainDlg::ResultsDone() const {
    return m_results ? m_results->SessionDone() : 0;
}

int CMainDlg::ResultsFailed() const {
    return m_results ? m_results->SessionFailed() : 0;
}
