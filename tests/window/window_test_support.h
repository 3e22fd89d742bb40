#pragma once
// What the window's logic tests share: a private work folder that is the current directory
// while it lives (the station takes its work folder from there), with the settings globals, the
// remembered folders and the port table started afresh and reset afterwards; whole-file reads
// and writes.
#include <string>

#include "jobs/station.h"
#include "support/temp_dir.h"

namespace window_test {

class StationFolder {
public:
    StationFolder();
    ~StationFolder();
    StationFolder(const StationFolder&) = delete;
    StationFolder& operator=(const StationFolder&) = delete;

    // The folder as the station sees it (its current directory, in the platform's form).
    const std::string& path() const { return path_; }
    // A file in the folder, with the platform's separator.
    std::string operator/(const std::string& name) const;

private:
    Station station_;  // the window's station for this test, the process's default
    TempDir dir_;
    std::string path_;
    std::string previous_;
};

std::string ReadAll(const std::string& path);
void WriteAll(const std::string& path, const std::string& bytes);

}  // namespace window_test
