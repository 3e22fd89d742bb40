// The live display's station line tells how far the run is while the bars are redrawn: how
// many handsets have started, how many are done and how many failed, then the station's text.
#include "console_display.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "jobs/file_download.h"
#include "jobs/station.h"
#include "jobs/status.h"

namespace {

// The display's target and the channels' results, put back as they were at the end.
class LiveDisplay : public ::testing::Test {
protected:
    void SetUp() override {
        // A file of our own (tmpfile() may want the root folder's write access on Windows).
        path_ =
            (std::filesystem::temp_directory_path() /
             ("pelor-display-" + std::to_string(reinterpret_cast<std::uintptr_t>(this)) + ".txt"))
                .string();
        out_ = std::fopen(path_.c_str(), "w+b");
        ASSERT_NE(out_, nullptr) << path_;
        for (int ch = 0; ch < kChannels; ++ch) saved_[ch] = g_nChannelResult[ch].load();
        for (int ch = 0; ch < 3; ++ch) g_nChannelResult[ch] = -1;  // as a run starts
    }
    void TearDown() override {
        STATION_Current().notifyTarget = nullptr;
        STATION_Current().notifyMessage = 0;
        for (int ch = 0; ch < kChannels; ++ch) g_nChannelResult[ch] = saved_[ch];
        if (out_ != nullptr) std::fclose(out_);
        std::remove(path_.c_str());
    }

    // The last station line drawn so far.
    std::string LastStationLine() {
        std::fflush(out_);
        std::rewind(out_);
        std::string text;
        char buffer[512];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, out_)) > 0;) {
            text.append(buffer, n);
        }
        const auto at = text.rfind("station ");
        if (at == std::string::npos) return {};
        return text.substr(at, text.find('\n', at) - at);
    }

    std::string path_;
    std::FILE* out_ = nullptr;
    std::array<int, kChannels> saved_{};
};

TEST_F(LiveDisplay, TheStationLineCountsStartedDoneAndFailedHandsets) {
    ConsoleDisplay display(out_, true, {"/dev/pts/1", "/dev/pts/2", "/dev/pts/3"});
    STATION_Current().notifyTarget = &display;
    STATION_Current().notifyMessage = WM_DOWNLOAD_STATUS;

    display.Refresh();
    EXPECT_EQ(LastStationLine(), "station 0 of 3 started, 0 done, 0 failed");

    STATUS_ChannelPrintf(0, "Download Start");
    STATUS_ChannelPrintf(1, "Download Start");
    display.Refresh();
    EXPECT_EQ(LastStationLine(), "station 2 of 3 started, 0 done, 0 failed");

    g_nChannelResult[0] = 1;
    STATUS_ChannelPrintf(0, "Download Complete! [3 sec]");
    g_nChannelResult[2] = 0;  // its port would not open
    STATUS_ChannelPrintf(2, "ERR: Open");
    STATUS_Printf("SERIAL_DEVICE_Open(COM3) Failed!");
    display.Finish();
    EXPECT_EQ(LastStationLine(),
              "station 3 of 3 started, 1 done, 1 failed  SERIAL_DEVICE_Open(COM3) Failed!");
}

TEST_F(LiveDisplay, PlainLinesKeepTheStationsOwnText) {
    ConsoleDisplay display(out_, false, {"/dev/pts/1"});
    STATION_Current().notifyTarget = &display;
    STATION_Current().notifyMessage = WM_DOWNLOAD_STATUS;
    STATUS_Printf("SERIAL_DEVICE_Open(COM1) Failed!");
    display.Finish();
    EXPECT_EQ(LastStationLine(), "station SERIAL_DEVICE_Open(COM1) Failed!");
}

}  // namespace
