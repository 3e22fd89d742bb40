#pragma once
// The folder browser of the Code row's "..." and of Create Resource Binary: a folder dialog
// that opens at the folder remembered for its mode and keeps the folder the operator chose.
#include <string>

class UiDialogs;

enum FolderMode : int {
    FOLDER_RESOURCE = 0,  // "Select Resource folder", opens at the remembered "RSC_FILE"
    FOLDER_IMAGES = 1,    // "Select *.mbn folder", opens at the remembered "BIN_FILE"
};

class CFolderBrowser {
public:
    // dialogs: how it is shown (the window's, which own the dialog).
    explicit CFolderBrowser(UiDialogs& dialogs);
    virtual ~CFolderBrowser() = default;
    CFolderBrowser(const CFolderBrowser&) = delete;
    CFolderBrowser& operator=(const CFolderBrowser&) = delete;

    // 1 when the operator chose a folder (its path is then in m_strPath); 0 when cancelled or
    // for an unknown mode. The path is emptied first either way.
    int Browse(int mode);
    std::string GetPath() const { return m_strPath; }

    // Where a browse of this mode opens: the remembered value ("RSC_FILE" names a file: its
    // folder), else the work folder.
    static std::string StartFolder(int mode);

    std::string m_strPath;

private:
    UiDialogs& m_dialogs;
};
