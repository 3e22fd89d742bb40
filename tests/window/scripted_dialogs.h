#pragma once
// Message boxes and pickers answered from a script, recording what was asked: the window's tests
// with the in-memory host and with real Qt widgets both use them.
#include <deque>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "ui_dialogs.h"

class ScriptedDialogs : public UiDialogs {
public:
    void Notice(const std::string& text) override;
    bool Confirm(const std::string& text) override;
    std::string OpenFile(const std::string& filter, const std::string& defExt) override;
    std::string SaveFile(const std::string& filter, const std::string& defExt) override;
    std::string BrowseFolder(const std::string& title, const std::string& start) override;

    std::vector<std::string> notices;
    std::vector<std::thread::id> noticeThreads;
    std::vector<std::string> questions;
    std::deque<bool> answers;  // Confirm answers in order; No when the script has run out
    std::vector<std::pair<std::string, std::string>> browsed;  // title, start
    std::string folder;                                        // what BrowseFolder returns
    std::deque<std::string> files;  // OpenFile and SaveFile answers in order; then cancelled
    std::vector<std::pair<std::string, std::string>> opened;  // filter, default extension
    std::vector<std::pair<std::string, std::string>> saved;   // filter, default extension
    std::function<void()> onNotice;  // runs inside Notice (a box is "open" meanwhile)
};
