// Which control notification runs which handler. Buttons report clicks (the check box or radio
// button has already changed its own state when its handler runs); changes made by the program
// itself (setChecked, setCurrentIndex) run no handler.
#include <QAbstractButton>

#include "dialog_template.h"
#include "main_dlg.h"

void CMainDlg::RouteNotifications() {
    const struct {
        int id;
        void (CMainDlg::*handler)();
    } clicks[] = {
        {IDC_CODE_CHECK, &CMainDlg::OnCodeCheck},
        {IDC_FONT_CHECK, &CMainDlg::OnFontCheck},
        {IDC_DATA_CHECK, &CMainDlg::OnDataCheck},
        {IDC_ETC1_CHECK, &CMainDlg::OnEtc1Check},
        {IDC_RESOURCE_CHECK, &CMainDlg::OnResourceCheck},
        {IDC_CHANGE_BOOT_AREA, &CMainDlg::OnChangeBootArea},
        {IDC_FORMAT, &CMainDlg::OnFormat},
        {IDC_DOWNLOAD, &CMainDlg::OnDownload},
        {IDC_CREATE_RESOURCE_BINARY, &CMainDlg::OnCreateResourceBinary},
    };
    for (const auto& route : clicks) {
        QAbstractButton* button = Button(route.id);
        if (button == nullptr) continue;
        connect(button, &QAbstractButton::clicked, this,
                [this, handler = route.handler] { (this->*handler)(); });
    }
}
