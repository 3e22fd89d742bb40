#include "ui_dialogs_win32.h"

#include <commdlg.h>
#include <shlobj.h>

#include <filesystem>
#include <vector>

namespace {

std::string RunFileDialog(HWND owner, const std::string& filter, const std::string& defExt,
                          bool save) {
    const std::string filters = UI_Win32Filter(filter);
    std::vector<char> file(MAX_PATH * 4, '\0');
    OPENFILENAMEA ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = filters.c_str();
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<DWORD>(file.size());
    ofn.lpstrTitle = kWin32AppName;
    if (defExt != "*") ofn.lpstrDefExt = defExt.c_str();
    // The window asks itself before it replaces a file; the dialog must not ask as well.
    ofn.Flags = OFN_HIDEREADONLY | OFN_NOCHANGEDIR |
                (save ? OFN_PATHMUSTEXIST : OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST);
    const BOOL ok = save ? GetSaveFileNameA(&ofn) : GetOpenFileNameA(&ofn);
    return ok ? std::string(file.data()) : std::string();
}

// Deletes the shell's item list when it goes.
struct ItemList {
    PIDLIST_ABSOLUTE pidl;
    ~ItemList() {
        if (pidl != nullptr) CoTaskMemFree(pidl);
    }
};

int CALLBACK BrowseCallback(HWND hwnd, UINT message, LPARAM, LPARAM data) {
    // Opens at the start folder.
    if (message == BFFM_INITIALIZED && data != 0) {
        SendMessageA(hwnd, BFFM_SETSELECTIONA, TRUE, data);
    }
    return 0;
}

}  // namespace

std::string UI_Win32Filter(const std::string& filter) {
    std::string out;
    std::string part;
    int parts = 0;
    for (char c : filter) {
        if (c != '|') {
            part += c;
            continue;
        }
        if (part.empty() && parts % 2 == 0) break;  // "||": the end
        out += part;
        out += '\0';
        part.clear();
        ++parts;
    }
    if (parts % 2 != 0) out += '\0';  // a text without its patterns
    out += '\0';
    return out;
}

std::string UI_Win32BrowseStart(const std::string& start) {
    std::error_code ec;
    const std::filesystem::path path(start);
    if (!start.empty() && std::filesystem::exists(path, ec) &&
        !std::filesystem::is_directory(path, ec)) {
        return path.parent_path().string();
    }
    return start;
}

void Win32UiDialogs::Notice(const std::string& text) {
    MessageBoxA(owner_, text.c_str(), kWin32AppName, MB_OK);
}

bool Win32UiDialogs::Confirm(const std::string& text) {
    return MessageBoxA(owner_, text.c_str(), kWin32AppName, MB_YESNO | MB_ICONQUESTION) == IDYES;
}

std::string Win32UiDialogs::OpenFile(const std::string& filter, const std::string& defExt) {
    return RunFileDialog(owner_, filter, defExt, false);
}

std::string Win32UiDialogs::SaveFile(const std::string& filter, const std::string& defExt) {
    return RunFileDialog(owner_, filter, defExt, true);
}

std::string Win32UiDialogs::BrowseFolder(const std::string& title, const std::string& start) {
    const std::string folder = UI_Win32BrowseStart(start);
    char name[MAX_PATH] = {};
    BROWSEINFOA info{};
    info.hwndOwner = owner_;
    info.pszDisplayName = name;
    info.lpszTitle = title.c_str();
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    info.lpfn = BrowseCallback;
    info.lParam = folder.empty() ? 0 : reinterpret_cast<LPARAM>(folder.c_str());
    const ItemList chosen{SHBrowseForFolderA(&info)};
    if (chosen.pidl == nullptr) return {};
    char path[MAX_PATH] = {};
    if (!SHGetPathFromIDListA(chosen.pidl, path)) return {};
    return path;
}
