// Create Resource Binary: packs a folder the operator picks into VORODOV_rsc.bin in that
// folder, on the window's thread, with the progress on channel 0's bar.
#include "dialog_template.h"
#include "folder_browser.h"
#include "main_dlg.h"
#include "resources/resource_builder.h"
#include "ui_dialogs.h"

void CMainDlg::OnCreateResourceBinary() {
    // It would hold up every worker's messages and take over channel 0's bar.
    if (RefusedDuringRun("Create Resource Binary")) return;
    UpdateData(true);
    CFolderBrowser browser(m_host.Dialogs());
    if (browser.Browse(FOLDER_RESOURCE) == 0) return;
    const std::string folder = browser.GetPath();
    m_host.Dialogs().Notice(kResourceStartPrompt);

    const int bar = kChannelBarIds[0];
    std::string error;
    const int built = RESOURCE_BuildBinary(
        folder, std::string(),
        [this](int k, int n) { ShowBar(kChannelBarIds[0], RESOURCE_ProgressText(k, n), 0, n, k); },
        &error);
    if (built) {
        m_host.Dialogs().Notice(kResourceDoneText);
    } else {
        m_host.Dialogs().Notice(std::string("Resource Binary(") + kResourceBinaryName +
                                ") was not created: " + error);
    }
    SetControlText(bar, std::string());
    m_host.SetBarPos(bar, 0);
}
