#include "scripted_dialogs.h"

namespace {

std::string NextFile(std::deque<std::string>& files) {
    if (files.empty()) return {};
    std::string file = files.front();
    files.pop_front();
    return file;
}

}  // namespace

void ScriptedDialogs::Notice(const std::string& text) {
    notices.push_back(text);
    noticeThreads.push_back(std::this_thread::get_id());
    if (onNotice) onNotice();
}

bool ScriptedDialogs::Confirm(const std::string& text) {
    questions.push_back(text);
    if (answers.empty()) return false;
    const bool answer = answers.front();
    answers.pop_front();
    return answer;
}

std::string ScriptedDialogs::OpenFile(const std::string& filter, const std::string& defExt) {
    opened.emplace_back(filter, defExt);
    return NextFile(files);
}

std::string ScriptedDialogs::SaveFile(const std::string& filter, const std::string& defExt) {
    saved.emplace_back(filter, defExt);
    return NextFile(files);
}

std::string ScriptedDialogs::BrowseFolder(const std::string& title, const std::string& start) {
    browsed.emplace_back(title, start);
    return folder;
}
