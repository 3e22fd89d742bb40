#pragma once
// The Qt message boxes and pickers of the Qt window.
#include <string>

#include "ui_dialogs.h"

class QWidget;

class QtUiDialogs : public UiDialogs {
public:
    explicit QtUiDialogs(QWidget* owner) : owner_(owner) {}

    void Notice(const std::string& text) override;
    bool Confirm(const std::string& text) override;
    std::string OpenFile(const std::string& filter, const std::string& defExt) override;
    std::string SaveFile(const std::string& filter, const std::string& defExt) override;
    std::string BrowseFolder(const std::string& title, const std::string& start) override;

private:
    QWidget* owner_;
};

// "Pelor Files(*.plr)|*.plr||" -> "Pelor Files (*.plr)"; several pairs are joined by ";;".
std::string UI_QtFilter(const std::string& filter);
