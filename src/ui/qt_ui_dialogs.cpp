#include "qt_ui_dialogs.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QStringList>
#include <vector>

#include "qt_paths.h"

namespace {

QString Caption() {
    return QCoreApplication::applicationName();
}

std::string Run(QFileDialog& dialog) {
    if (dialog.exec() != QDialog::Accepted) return {};
    const QStringList files = dialog.selectedFiles();
    return files.isEmpty() ? std::string() : UI_PathFromQt(files.front());
}

}  // namespace

std::string UI_QtFilter(const std::string& filter) {
    std::vector<std::string> parts;
    std::string part;
    for (char c : filter) {
        if (c == '|') {
            parts.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    if (!part.empty()) parts.push_back(part);
    std::string out;
    for (std::size_t i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].empty() && parts[i + 1].empty()) break;
        std::string text = parts[i];
        // The description usually repeats its patterns in parentheses; Qt shows them anyway.
        const auto open = text.rfind('(');
        if (open != std::string::npos && !text.empty() && text.back() == ')') text.erase(open);
        while (!text.empty() && text.back() == ' ') text.pop_back();
        std::string patterns = parts[i + 1];
        for (char& c : patterns) {
            if (c == ';') c = ' ';
        }
        if (!out.empty()) out += ";;";
        out += text + " (" + patterns + ")";
    }
    return out;
}

void QtUiDialogs::Notice(const std::string& text) {
    QMessageBox box(QMessageBox::NoIcon, Caption(), QString::fromStdString(text), QMessageBox::Ok,
                    owner_);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

bool QtUiDialogs::Confirm(const std::string& text) {
    QMessageBox box(QMessageBox::Question, Caption(), QString::fromStdString(text),
                    QMessageBox::Yes | QMessageBox::No, owner_);
    box.setTextFormat(Qt::PlainText);
    return box.exec() == QMessageBox::Yes;
}

std::string QtUiDialogs::OpenFile(const std::string& filter, const std::string& defExt) {
    QFileDialog dialog(owner_, Caption());
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter(QString::fromStdString(UI_QtFilter(filter)));
    if (defExt != "*") dialog.setDefaultSuffix(QString::fromStdString(defExt));
    return Run(dialog);
}

std::string QtUiDialogs::SaveFile(const std::string& filter, const std::string& defExt) {
    QFileDialog dialog(owner_, Caption());
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // The window asks itself before it replaces a file (through this interface, so it can
    // be scripted); the dialog must not ask as well.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    dialog.setNameFilter(QString::fromStdString(UI_QtFilter(filter)));
    if (defExt != "*") dialog.setDefaultSuffix(QString::fromStdString(defExt));
    return Run(dialog);
}

std::string QtUiDialogs::BrowseFolder(const std::string& title, const std::string& start) {
    QString folder = UI_PathToQt(start);
    const QFileInfo info(folder);
    // The remembered value may name a file (the last resource image): open at its folder.
    if (info.exists() && !info.isDir()) folder = info.absolutePath();
    const QString chosen =
        QFileDialog::getExistingDirectory(owner_, QString::fromStdString(title), folder);
    return chosen.isEmpty() ? std::string() : UI_PathFromQt(chosen);
}
