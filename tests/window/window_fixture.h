#pragma once
// The fixture of the window's logic tests: a dialog on the in-memory host started in a private
// work folder, with scripted boxes; closing it never ends the test program.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "link/image_table.h"
#include "memory_host.h"
#include "scripted_dialogs.h"
#include "window_test_support.h"

namespace window_test {

using Strings = std::vector<std::string>;

class WindowTest : public ::testing::Test {
protected:
    // A dialog started with the given settings file (none when empty).
    std::unique_ptr<MemoryDlg> Start(const std::string& settings = std::string()) {
        if (!settings.empty()) WriteAll(Settings(), settings);
        auto dlg = std::make_unique<MemoryDlg>(dialogs_);
        dlg->SetExitHandler([this](int code) { exitCodes_.push_back(code); });
        return dlg;
    }
    static void Click(MemoryDlg& dlg, int id) { dlg.Button(id)->click(); }
    std::string Settings() const { return folder_ / "pelorw.ini"; }
    std::string Job() const { return folder_ / "default.plr"; }

    StationFolder folder_;
    ScriptedDialogs dialogs_;
    std::vector<int> exitCodes_;
};

inline IMAGE_ENTRY Progress(int channel, int slot, int sent, int size) {
    IMAGE_ENTRY e;
    e.nChannel = channel;
    e.nSlot = slot;
    e.nSent = sent;
    e.nSize = size;
    return e;
}

inline IMAGE_ENTRY ChannelText(int channel, const char* text) {
    IMAGE_ENTRY e{};
    e.nSlot = 0;
    e.dwAddress = 0;
    e.nChannel = channel;
    std::strncpy(e.szPath, text, sizeof e.szPath - 1);
    return e;
}

}  // namespace window_test
