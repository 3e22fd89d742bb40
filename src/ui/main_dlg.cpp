#include "main_dlg.h"

#include <cstdio>
#include <cstdlib>

#include "config/settings.h"
#include "dialog_template.h"
#include "jobs/file_download.h"
#include "jobs/runner.h"
#include "transport/port_table.h"
#include "ui_dialogs.h"

namespace {

constexpr int kPortEntries = 30;  // "COM1" .. "COM30"
constexpr const char* kNoPortText = "-----------";

void EndProcess(int code) {
    std::fflush(nullptr);
    std::_Exit(code);
}

}  // namespace

CMainDlg::CMainDlg(WindowHost& host) : m_host(host), m_exit(EndProcess) {}

CMainDlg::~CMainDlg() {
    // Nothing may reach the window from a worker once it is gone.
    NotifyTarget* self = this;
    STATION_Current().notifyTarget.compare_exchange_strong(self, nullptr);
}

void CMainDlg::SetChannelPort(int channel, int port) {
    if (!IsChannel(channel)) return;
    m_nPort[channel] = port;
    ShowPort(channel, port);
    if (port != 0) SetControlText(kChannelBarIds[channel], "Ready...");
    EnableDownload(AnyPort());
}

bool CMainDlg::RefusedDuringRun(const char* what) {
    if (m_bRunning == 0) return false;
    SetControlText(IDC_STATUS_LINE, std::string(what) + " waits until the run has ended");
    return true;
}

void CMainDlg::SetExitHandler(ExitFn exitFn) {
    m_exit = exitFn ? std::move(exitFn) : EndProcess;
}

void CMainDlg::UpdateData(bool saveAndValidate) {
    struct Binding {
        int id;
        int* member;
    };
    const Binding bindings[] = {{IDC_FORMAT, &m_bFormat},
                                {IDC_ERASE_NONE, &m_nEraseNone},
                                {IDC_ERASE_ALL, &m_nEraseAll},
                                {IDC_ERASE_EXCEPT_BACKUP, &m_nEraseExceptBackup}};
    for (const Binding& b : bindings) {
        if (saveAndValidate) {
            *b.member = IsChecked(b.id) ? 1 : 0;
        } else {
            SetCheck(b.id, *b.member != 0);
        }
    }
}

bool CMainDlg::OnInitDialog() {
    // 1. The controls exist; the bound members go into their buttons.
    UpdateData(false);
    // 2. The window's icon is the host's.
    // 3. The five image bars.
    for (int id : {IDC_CODE_BAR, IDC_FONT_BAR, IDC_DATA_BAR, IDC_ETC1_BAR, IDC_RESOURCE_BAR}) {
        m_host.SetBarRange(id, 0, 100);
        m_host.SetBarPos(id, 0);
    }
    // 4. The port selectors: index = port number.
    std::vector<ListItem> entries{{kNoPortText, {}}};
    for (int n = 1; n <= kPortEntries; ++n) entries.push_back({"COM" + std::to_string(n), {}});
    for (int ch = 0; ch < kChannels; ++ch) {
        m_host.SetItems(kPortSelectorIds[ch], entries);
        m_nPort[ch] = 0;
        m_host.Select(kPortSelectorIds[ch], 0);
    }
    // 5. - 8.
    SetCheck(IDC_AUTO, false);
    m_host.SetCaption(kMainDialogCaption);
    m_nPort.fill(0);
    m_bRunning = 0;
    SetCheck(IDC_FORMAT, true);
    // 9. The work folder, the port numbers' devices, the settings and the job.
    SETTINGS_InitDirectory();
    PORTTABLE_Load(SETTINGS_FilePath());
    RefreshPortSelectors();
    ApplySettings(nullptr);
    return true;
}

bool CMainDlg::OnClose() {
    if (m_bRunning == 1) {
        // The workers are cut off: the channels are stopped and nothing is saved. The jobs go
        // on record first.
        if (!m_bEnding) EndRun("window closed");
        return false;
    }
    OnDestroy();
    return true;
}

bool CMainDlg::OnEndSession() {
    if (m_bRunning == 1) {
        if (!m_bEnding) EndRun("station ended");
        return false;
    }
    OnDestroy();
    return true;
}

void CMainDlg::EndRun(const std::string& reason) {
    m_bEnding = true;
    // Stopped first, then recorded: a job in its final wait may still end done.
    for (int ch = 0; ch < kChannels; ++ch) {
        if (g_nComPort[ch] != 0) PELOR_CloseChannel(ch);
    }
    ResultsCutOff(reason);
    PELOR_Stop();
    m_bRunning = 0;
    m_bEnding = false;
    m_exit(1);
}

void CMainDlg::OnDestroy() {
    // The line view sees the station gone.
    PublishOff(kResultsCloseBound / 5);
    if (!m_bSaveOnClose) return;
    if (CollectSettings() == 0) {
        m_host.Dialogs().Notice(std::string("The settings could not be saved to ") +
                                SETTINGS_FilePath() + " and " + g_szJobFile + ".");
    }
}
