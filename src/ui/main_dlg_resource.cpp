// Create Resource Binary: packs a folder the operator picks into VORODOV_rsc.bin in that
// folder, on the window's thread, with the progress on channel 0's bar.
#include "caption_progress_ctrl.h"
#include "folder_browser.h"
#include "main_dlg.h"
#include "resources/resource_builder.h"
#include "ui_dialogs.h"

void CMainDlg::OnCreateResourceBinary() {
    UpdateData(true);
    CFolderBrowser browser(this, *m_dialogs);
    if (browser.Browse(FOLDER_RESOURCE) == 0) return;
    const std::string folder = browser.GetPath();
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
