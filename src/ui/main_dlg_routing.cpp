// Which control notification runs which handler. Buttons report clicks (the check box or radio
// button has already changed its own state when its handler runs); changes made by the program
// itself (SetChecked, Select) run no handler. A selector reports the operator's choice.
#include "dialog_template.h"
#include "main_dlg.h"

bool CMainDlg::OnCommand(int id) {
    static constexpr struct {
        int id;
        void (CMainDlg::*handler)();
    } kClicks[] = {
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
    for (const auto& route : kClicks) {
        if (route.id == id) {
            (this->*route.handler)();
            return true;
        }
    }
    return false;
}

bool CMainDlg::OnSelectionChange(int id) {
    for (int ch = 0; ch < kChannels; ++ch) {
        if (kPortSelectorIds[ch] == id) {
            OnSelchangePort(ch);
            return true;
        }
    }
    return false;
}
