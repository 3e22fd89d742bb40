#include "folder_browser.h"

#include <filesystem>

#include "config/remembered_folders.h"
#include "config/settings.h"
#include "ui_dialogs.h"

namespace {

struct ModeInfo {
    const char* title;
    const char* valueName;
};

const ModeInfo* Info(int mode) {
    static constexpr ModeInfo kModes[] = {
        {"Select Resource folder", kRegRscFile},  // FOLDER_RESOURCE
        {"Select *.mbn folder", kRegBinFile},     // FOLDER_IMAGES
    };
    if (mode < 0 || mode >= static_cast<int>(std::size(kModes))) return nullptr;
    return &kModes[mode];
}

}  // namespace

CFolderBrowser::CFolderBrowser(UiDialogs& dialogs) : m_dialogs(dialogs) {}

std::string CFolderBrowser::StartFolder(int mode) {
    const ModeInfo* info = Info(mode);
    const std::string remembered = info != nullptr ? REG_ReadFolder(info->valueName) : "";
    if (remembered.empty()) return g_szWorkDir;
    if (mode == FOLDER_RESOURCE) {
        // The last resource image picked: the folder it lies in, unless it is a folder itself.
        std::error_code ec;
        const std::filesystem::path path(remembered);
        if (!std::filesystem::is_directory(path, ec) && path.has_parent_path()) {
            return path.parent_path().string();
        }
    }
    return remembered;
}

int CFolderBrowser::Browse(int mode) {
    m_strPath.clear();
    const ModeInfo* info = Info(mode);
    if (info == nullptr) return 0;
    m_strPath = m_dialogs.BrowseFolder(info->title, StartFolder(mode));
    return m_strPath.empty() ? 0 : 1;
}
