// Load and Save As: job files (".plr") chosen in the file dialogs.
#include <filesystem>

#include "config/atomic_file.h"
#include "config/settings.h"
#include "dialog_template.h"
#include "main_dlg.h"
#include "ui_dialogs.h"

namespace {

constexpr const char* kJobFilter = "Pelor Files(*.plr)|*.plr||";
constexpr const char* kJobExtension = "plr";

}  // namespace

void CMainDlg::OnLoadJob() {
    // A load would drop the ports the channels run on.
    if (RefusedDuringRun("Load")) return;
    const std::string path = m_host.Dialogs().OpenFile(kJobFilter, kJobExtension);
    if (path.empty()) return;
    if (TakePath(path, g_szJobFile, sizeof g_szJobFile) == 0) return;
    SetControlText(IDC_JOB_FILE, path);
    // The settings file is read again with the job: automatically assigned ports are dropped.
    ApplySettings(path.c_str());
}

void CMainDlg::OnSaveJobAs() {
    if (RefusedDuringRun("Save As")) return;
    // A selected row needs its file and its address; the Resource row is not checked.
    const struct {
        int check;
        const char* file;
        int address;
        const char* notice;
    } rows[] = {
        {IDC_CODE_CHECK, g_szCodeFile, IDC_CODE_ADDRESS, "Invalid Code Image/Address !"},
        {IDC_FONT_CHECK, g_szFontFile, IDC_FONT_ADDRESS, "Invalid Font Image/Address !"},
        {IDC_DATA_CHECK, g_szDataFile, IDC_DATA_ADDRESS, "Invalid Data Image/Address !"},
        {IDC_ETC1_CHECK, g_szEtc1File, IDC_ETC1_ADDRESS, "Invalid Etc1 Image/Address !"},
    };
    for (const auto& row : rows) {
        if (IsChecked(row.check) && (row.file[0] == '\0' || ControlText(row.address).empty())) {
            m_host.Dialogs().Notice(row.notice);
            return;
        }
    }

    const std::string path = m_host.Dialogs().SaveFile(kJobFilter, kJobExtension);
    if (path.empty()) return;
    // A name may be typed; an existing file is replaced only when the operator says so.
    std::error_code ec;
    if (ATOMIC_IsReadOnly(path)) {
        // Locked on purpose (a line's job): refused as Windows refuses it.
        SetControlText(IDC_STATUS_LINE, path + " is read-only: not replaced");
        return;
    }
    if (std::filesystem::exists(path, ec)) {
        const std::string name = std::filesystem::path(path).filename().string();
        if (!m_host.Dialogs().Confirm(name + " already exists. Replace it?")) return;
    }
    if (TakePath(path, g_szJobFile, sizeof g_szJobFile) == 0) return;
    // The chosen file is the job file from now on: closing writes it too.
    SETTINGS_TakeJobFile(path);
    SetControlText(IDC_JOB_FILE, path);
    if (CollectSettings() == 0) {
        m_host.Dialogs().Notice(std::string("The settings could not be saved to ") +
                                SETTINGS_FilePath() + " and " + g_szJobFile + ".");
    }
    ShowSettingsNotices();
}
