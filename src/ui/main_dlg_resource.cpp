// Create Resource Binary: packs a folder the operator picks into VORODOV_rsc.bin in that
// folder, on the window's thread, with the progress on channel 0's bar.
#include <filesystem>

#include "caption_progress_ctrl.h"
#include "config/remembered_folders.h"
#include "config/settings.h"
#include "main_dlg.h"
#include "resources/resource_builder.h"
#include "ui_dialogs.h"

namespace {

constexpr const char* kResourceFolderTitle = "Select Resource folder";

// Where the folder browser opens: the folder of the last resource image picked, else the work
// folder.
std::string ResourceStartFolder() {
    const std::string remembered = REG_ReadFolder(kRegRscFile);
    if (!remembered.empty()) {
        std::error_code ec;
        const std::filesystem::path path(remembered);
        if (std::filesystem::is_directory(path, ec)) return remembered;
        if (path.has_parent_path()) return path.parent_path().string();
    }
    return g_szWorkDir;
}

}  // namespace

void CMainDlg::OnCreateResourceBinary() {
    UpdateData(true);
    const std::string folder = m_dialogs->BrowseFolder(kResourceFolderTitle, ResourceStartFolder());
    if (folder.empty()) return;
    m_dialogs->Notice(kResourceStartPrompt);

    CCaptionProgressCtrl* bar = m_ChannelBars[0];
    std::string error;
    const int built = RESOURCE_BuildBinary(
        folder, std::string(),
        [bar](int k, int n) {
            bar->SetWindowText(RESOURCE_ProgressText(k, n));
            bar->SetRange(0, n);
            bar->SetPos(k);  // repaints at once when the filled width changes
        },
        &error);
    if (built) {
        m_dialogs->Notice(kResourceDoneText);
    } else {
        m_dialogs->Notice(std::string("Resource Binary(") + kResourceBinaryName +
                          ") was not created: " + error);
    }
    bar->SetWindowText(QString());
    bar->SetPos(0);
}
