// The image rows' pickers and the erase options: the Code row's folder, the other rows' files,
// Erase NAND with the options it pulls along, and the hidden erase radio buttons.
#include "config/remembered_folders.h"
#include "config/settings.h"
#include "dialog_template.h"
#include "folder_browser.h"
#include "main_dlg.h"
#include "ui_dialogs.h"

namespace {

constexpr const char* kBootAreaCodeAddress = "0";
constexpr const char* kEraseAllQuestion = "Do you want to erase all NAND?";
constexpr const char* kEraseExceptBackupQuestion = "Do you want to erase NAND except Back up Area?";
constexpr const char* kCodeRowNeeded = "You must check code button.";

// The length of the path's last component (what SETTINGS_SplitCodePath keeps of it).
std::size_t LastComponentLength(const std::string& path) {
    const auto cut = path.find_last_of("/\\");
    return cut == std::string::npos ? path.size() : path.size() - cut - 1;
}

}  // namespace

int CMainDlg::TakePath(const std::string& path, char* setting, std::size_t capacity) {
    if (path.size() >= capacity) {
        m_host.Dialogs().Notice("The path is too long (at most " + std::to_string(capacity - 1) +
                                " characters):\n" + path);
        return 0;
    }
    SETTINGS_CopyText(setting, capacity, path.c_str());
    return 1;
}

int CMainDlg::PickFile(const char* filter, const char* defExt, char* setting, std::size_t capacity,
                       int bar, std::string* chosen) {
    const std::string path = m_host.Dialogs().OpenFile(filter, defExt);
    if (path.empty()) return 0;  // cancelled
    if (TakePath(path, setting, capacity) == 0) return 0;
    SetControlText(bar, path);
    if (chosen != nullptr) *chosen = path;
    return 1;
}

void CMainDlg::OnPickFontFile() {
    PickFile("Bootloader Files(*.bin)|*.bin||", "bin", g_szFontFile, sizeof g_szFontFile,
             IDC_FONT_BAR);
}

void CMainDlg::OnPickDataFile() {
    PickFile("Data Files(*.dat)|*.dat||", "dat", g_szDataFile, sizeof g_szDataFile, IDC_DATA_BAR);
}

void CMainDlg::OnPickEtc1File() {
    PickFile("Etc Files(*.*)|*.*||", "*", g_szEtc1File, sizeof g_szEtc1File, IDC_ETC1_BAR);
}

void CMainDlg::OnPickResourceFile() {
    std::string chosen;
    if (PickFile("RSC Files(*.bin)|*.bin||", "bin", g_szEtc2File, sizeof g_szEtc2File,
                 IDC_RESOURCE_BAR, &chosen) == 0) {
        return;
    }
    // The resource folder browser opens next to the last resource image.
    REG_WriteFolder(kRegRscFile, chosen);
}

void CMainDlg::OnPickCodeFolder() {
    CFolderBrowser browser(m_host.Dialogs());
    if (browser.Browse(FOLDER_IMAGES) == 0) return;
    const std::string folder = browser.GetPath();
    // The folder's last component names the AMSS images; cut, it would name other files.
    if (LastComponentLength(folder) + 1 >= sizeof g_szImageBaseName) {
        m_host.Dialogs().Notice("The folder's name is too long (at most " +
                                std::to_string(sizeof g_szImageBaseName - 2) + " characters):\n" +
                                folder);
        return;
    }
    if (TakePath(folder, g_szCodeFile, sizeof g_szCodeFile) == 0) return;
    SETTINGS_SplitCodePath();
    SetControlText(IDC_CODE_BAR, folder);
    REG_WriteFolder(kRegBinFile, folder);
}

void CMainDlg::OnEraseNand() {
    if (IsChecked(IDC_ERASE_NAND)) {
        if (!m_host.Dialogs().Confirm(kEraseAllQuestion)) {
            SetCheck(IDC_ERASE_NAND, false);
            return;
        }
        if (!IsChecked(IDC_CODE_CHECK)) {
            m_host.Dialogs().Notice(kCodeRowNeeded);
            SetCheck(IDC_ERASE_NAND, false);
            return;
        }
        // Answering No to Change Boot Area's own question leaves it off and Erase NAND on.
        if (!IsChecked(IDC_CHANGE_BOOT_AREA)) {
            SetCheck(IDC_CHANGE_BOOT_AREA, true);
            OnChangeBootArea();
        }
        if (!IsChecked(IDC_RESOURCE_CHECK)) {
            SetCheck(IDC_RESOURCE_CHECK, true);
            OnResourceCheck();
        }
    } else {
        SetCheck(IDC_CHANGE_BOOT_AREA, false);
        OnChangeBootArea();
        SetCheck(IDC_RESOURCE_CHECK, false);
        OnResourceCheck();
    }
    g_bEraseNand = IsChecked(IDC_ERASE_NAND) ? 1 : 0;
}

void CMainDlg::OnEraseNone() {
    m_nEraseNone = 1;
    m_nEraseAll = 0;
    m_nEraseExceptBackup = 0;
    UpdateData(false);
    g_bEraseAllNand = 0;
    g_bEraseNand = 0;
}

namespace {

// A refused erase option: the radio buttons fall back to NONE, the settings stay as they were.
void BackToNone(int& none, int& all, int& exceptBackup) {
    none = 1;
    all = 0;
    exceptBackup = 0;
}

}  // namespace

void CMainDlg::OnEraseAll() {
    if (!m_host.Dialogs().Confirm(kEraseAllQuestion)) {
        BackToNone(m_nEraseNone, m_nEraseAll, m_nEraseExceptBackup);
        UpdateData(false);
        return;
    }
    UpdateData(true);
    g_bEraseAllNand = 1;
    g_bEraseNand = 0;
    // Erasing everything takes the boot chain with it: Change Boot Area goes on, without its
    // own question.
    SetCheck(IDC_CHANGE_BOOT_AREA, true);
    SetControlText(IDC_CODE_ADDRESS, kBootAreaCodeAddress);
    g_bChangeBootArea = 1;
    SETTINGS_CopyText(g_szCodeAddress, kBootAreaCodeAddress);
}

void CMainDlg::OnEraseExceptBackup() {
    if (!m_host.Dialogs().Confirm(kEraseExceptBackupQuestion)) {
        BackToNone(m_nEraseNone, m_nEraseAll, m_nEraseExceptBackup);
        UpdateData(false);
        return;
    }
    UpdateData(true);
    g_bEraseAllNand = 0;
    g_bEraseNand = 1;
}
