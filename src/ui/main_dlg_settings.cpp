// Moving the settings between the globals and the controls, and the small handlers that do it
// at start-up: the row check boxes, Change Boot Area and Format.
#include "config/atomic_file.h"
#include "config/settings.h"
#include "dialog_template.h"
#include "main_dlg.h"
#include "transport/port_table.h"
#include "ui_dialogs.h"

namespace {

constexpr const char* kBootAreaCodeAddress = "0";
constexpr const char* kDefaultCodeAddress = "70000";

// One image row: its check box, bar and address edit, and the settings behind them.
struct ImageRow {
    int check;
    int bar;
    int address;
    int* flag;
    const char* file;
    const char* addressText;
    void (CMainDlg::*handler)();
};

}  // namespace

void CMainDlg::ApplySettings(const char* jobFile) {
    SETTINGS_Load(jobFile);
    SetControlText(IDC_JOB_FILE, g_szJobFile);

    SetCheck(IDC_AUTO, g_bAutoDetect.load() != 0);
    const bool autoDetect = IsChecked(IDC_AUTO);
    for (int ch = 0; ch < kChannels; ++ch) {
        const int port = autoDetect ? 0 : g_nChPort[static_cast<std::size_t>(ch)];
        m_nPort[ch] = port;
        ShowPort(ch, port);
        // A selector locked by an automatic assignment is free again once that is dropped.
        EnableControl(kPortSelectorIds[ch], true);
    }
    EnableDownload(g_bAutoDetect.load() == 0);

    // The erase options follow the load (which clears them), so the boxes never show an erase
    // that will not happen.
    SetCheck(IDC_ERASE_NAND, g_bEraseNand != 0);
    m_nEraseAll = g_bEraseAllNand != 0 ? 1 : 0;
    m_nEraseExceptBackup = m_nEraseAll == 0 && g_bEraseNand != 0 ? 1 : 0;
    m_nEraseNone = m_nEraseAll == 0 && m_nEraseExceptBackup == 0 ? 1 : 0;
    UpdateData(false);

    SetCheck(IDC_CHANGE_BOOT_AREA, g_bChangeBootArea != 0);
    OnChangeBootArea();

    const ImageRow rows[] = {
        {IDC_CODE_CHECK, IDC_CODE_BAR, IDC_CODE_ADDRESS, &g_bCodeCheck, g_szCodeFile,
         g_szCodeAddress, &CMainDlg::OnCodeCheck},
        {IDC_FONT_CHECK, IDC_FONT_BAR, IDC_FONT_ADDRESS, &g_bFontCheck, g_szFontFile,
         g_szFontAddress, &CMainDlg::OnFontCheck},
        {IDC_DATA_CHECK, IDC_DATA_BAR, IDC_DATA_ADDRESS, &g_bDataCheck, g_szDataFile,
         g_szDataAddress, &CMainDlg::OnDataCheck},
        {IDC_ETC1_CHECK, IDC_ETC1_BAR, IDC_ETC1_ADDRESS, &g_bEtc1Check, g_szEtc1File,
         g_szEtc1Address, &CMainDlg::OnEtc1Check},
        {IDC_RESOURCE_CHECK, IDC_RESOURCE_BAR, IDC_RESOURCE_ADDRESS, &g_bEtc2Check, g_szEtc2File,
         g_szEtc2Address, &CMainDlg::OnResourceCheck},
    };
    for (const ImageRow& row : rows) {
        SetCheck(row.check, *row.flag != 0);
        SetControlText(row.bar, row.file);
        SetControlText(row.address, row.addressText);
        (this->*row.handler)();
    }
    // A path too long for its setting was ignored, a job file could not be read or is locked:
    // say so rather than leave the operator to find out at closing.
    ShowSettingsNotices();
}

void CMainDlg::ShowSettingsNotices() {
    std::string notices;
    for (const std::string& notice : SETTINGS_TakeNotices()) {
        notices += (notices.empty() ? "" : "; ") + notice;
    }
    if (!notices.empty()) SetControlText(IDC_STATUS_LINE, notices);
}

int CMainDlg::CollectSettings() {
    for (int ch = 0; ch < kChannels; ++ch) g_nChPort[static_cast<std::size_t>(ch)] = m_nPort[ch];
    SETTINGS_CopyText(g_szJobFile, ControlText(IDC_JOB_FILE));
    SETTINGS_CopyText(g_szCodeAddress, ControlText(IDC_CODE_ADDRESS));
    SETTINGS_CopyText(g_szDataAddress, ControlText(IDC_DATA_ADDRESS));
    SETTINGS_CopyText(g_szFontAddress, ControlText(IDC_FONT_ADDRESS));
    SETTINGS_CopyText(g_szEtc1Address, ControlText(IDC_ETC1_ADDRESS));
    SETTINGS_CopyText(g_szEtc2Address, ControlText(IDC_RESOURCE_ADDRESS));
    // The job goes only into the job file the window loaded (or Save As chose): never over a
    // file it could not read, one named since in the edit, or a locked one.
    const int saved = SETTINGS_Save(SETTINGS_MayWriteJob());
    // The port numbers saved above stand for the devices of the port table: it is saved with
    // them, so a number given to a new device means the same device at the next start. A
    // locked settings file keeps its table too.
    const int table =
        ATOMIC_IsReadOnly(SETTINGS_FilePath()) ? 1 : PORTTABLE_Save(SETTINGS_FilePath());
    return saved != 0 && table != 0 ? 1 : 0;
}

void CMainDlg::OnCodeCheck() {
    g_bCodeCheck = IsChecked(IDC_CODE_CHECK) ? 1 : 0;
    EnableControl(IDC_CODE_BAR, g_bCodeCheck != 0);
    SetCheck(IDC_CHANGE_BOOT_AREA, false);
    OnChangeBootArea();
    EnableControl(IDC_CHANGE_BOOT_AREA, g_bCodeCheck != 0);
    EnableControl(IDC_CODE_ADDRESS, g_bCodeCheck != 0);
}

namespace {

void ApplyRowCheck(CMainDlg& dlg, int check, int bar, int address, int& flag) {
    flag = dlg.IsChecked(check) ? 1 : 0;
    dlg.EnableControl(bar, flag != 0);
    dlg.EnableControl(address, flag != 0);
}

}  // namespace

void CMainDlg::OnFontCheck() {
    ApplyRowCheck(*this, IDC_FONT_CHECK, IDC_FONT_BAR, IDC_FONT_ADDRESS, g_bFontCheck);
}

void CMainDlg::OnDataCheck() {
    ApplyRowCheck(*this, IDC_DATA_CHECK, IDC_DATA_BAR, IDC_DATA_ADDRESS, g_bDataCheck);
}

void CMainDlg::OnEtc1Check() {
    ApplyRowCheck(*this, IDC_ETC1_CHECK, IDC_ETC1_BAR, IDC_ETC1_ADDRESS, g_bEtc1Check);
}

void CMainDlg::OnResourceCheck() {
    ApplyRowCheck(*this, IDC_RESOURCE_CHECK, IDC_RESOURCE_BAR, IDC_RESOURCE_ADDRESS, g_bEtc2Check);
}

void CMainDlg::OnChangeBootArea() {
    if (IsChecked(IDC_CHANGE_BOOT_AREA) && !m_host.Dialogs().Confirm("Change Boot Loader?")) {
        SetCheck(IDC_CHANGE_BOOT_AREA, false);
        return;
    }
    g_bChangeBootArea = IsChecked(IDC_CHANGE_BOOT_AREA) ? 1 : 0;
    const char* address = g_bChangeBootArea ? kBootAreaCodeAddress : kDefaultCodeAddress;
    SetControlText(IDC_CODE_ADDRESS, address);
    SETTINGS_CopyText(g_szCodeAddress, address);
}

void CMainDlg::OnFormat() {
    m_bFormat = m_bFormat != 1 ? 1 : 0;
    g_bFormat = m_bFormat;
}
