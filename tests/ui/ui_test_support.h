#pragma once
// Helpers for the window's tests: scripted message boxes and pickers, a private work folder
// per test (the station takes its work folder from the current directory), whole-file reads
// and writes, and a small image set on disk.
#include <QCoreApplication>
#include <chrono>
#include <deque>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "jobs/station.h"
#include "scripted_dialogs.h"

namespace ui_test {

using ::ScriptedDialogs;  // scripted_dialogs.h

// A private folder that is also the current directory while it lives; the settings globals,
// the remembered folders and the port table start afresh and are reset again afterwards.
class StationFolder {
public:
    StationFolder();
    ~StationFolder();
    StationFolder(const StationFolder&) = delete;
    StationFolder& operator=(const StationFolder&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    Station station_;  // the window's station for this test, the process's default
    std::string path_;
    std::string previous_;
};

std::string ReadAll(const std::string& path);
void WriteAll(const std::string& path, const std::string& bytes);
bool Exists(const std::string& path);

// A code folder <root>/WZRTAll with partition.mbn, WZRTAllhd.mbn and WZRTAll.mbn (amssBytes).
// Returns the folder.
std::string MakeCodeFolder(const std::string& root, std::size_t amssBytes);

// Handles the window's events until done() holds or the bound passes; true when it held.
bool PumpUntil(const std::function<bool()>& done,
               std::chrono::milliseconds bound = std::chrono::seconds(20));

// CPU time used so far by the calling thread.
std::chrono::microseconds ThreadCpuTime();

}  // namespace ui_test
