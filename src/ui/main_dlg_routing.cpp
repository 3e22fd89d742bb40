// Which control notification runs which handler. Buttons report clicks (the check box or radio
// button has already changed its own state when its handler runs); changes made by the program
// itself (setChecked, setCurrentIndex) run no handler. A selector reports the operator's choice.
#include <QAbstractButton>
#include <QComboBox>

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
        {IDC_CODE_PICK, &CMainDlg::OnPickCodeFolder},
        {IDC_FONT_PICK, &CMainDlg::OnPickFontFile},
        {IDC_DATA_PICK, &CMainDlg::OnPickDataFile},
        {IDC_ETC1_PICK, &CMainDlg::OnPickEtc1File},
        {IDC_RESOURCE_PICK, &CMainDlg::OnPickResourceFile},
        {IDC_ERASE_NAND, &CMainDlg::OnEraseNand},
        {IDC_ERASE_NONE, &CMainDlg::OnEraseNone},
        {IDC_ERASE_ALL, &CMainDlg::OnEraseAll},
        {IDC_ERASE_EXCEPT_BACKUP, &CMainDlg::OnEraseExceptBackup},
        {IDC_LOAD, &CMainDlg::OnLoadJob},
        {IDC_SAVE_AS, &CMainDlg::OnSaveJobAs},
        {IDC_AUTO, &CMainDlg::OnAutoDetect},
    };
    for (const auto& route : clicks) {
        QAbstractButton* button = Button(route.id);
        if (button == nullptr) continue;
        connect(button, &QAbstractButton::clicked, this,
                [this, handler = route.handler] { (this->*handler)(); });
    }
    // The operator's choice in a selector, also of the entry it already shows.
    for (int ch = 0; ch < kChannels; ++ch) {
        connect(m_PortSelectors[ch], &QComboBox::activated, this,
                [this, ch] { OnSelchangePort(ch); });
    }
}
