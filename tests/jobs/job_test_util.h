#pragma once
// Helpers for the jobs tests: a notification target that records what the workers report,
// simulated handsets on loopback or pseudo-terminal lines, image files in a private folder, the
// request log in a form a test can compare, and a station of the test's own.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "config/settings.h"
#include "jobs/download_plan.h"
#include "jobs/file_download.h"
#include "jobs/runner.h"
#include "jobs/station.h"
#include "jobs/status.h"
#include "link/image_table.h"
#include "link/image_transfer.h"
#include "sim/sim_expected.h"
#include "sim/sim_fault.h"
#include "sim/sim_handset.h"
#include "sim/sim_names.h"
#include "support/temp_dir.h"
#include "transport/channel_wake.h"
#include "transport/loopback_port.h"
#include "transport/port_table.h"
#include "transport/serial_port.h"

namespace jobs_test {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;
using Ports = std::array<int, kChannels>;

inline constexpr int kBaud = 1382400;

// One progress message as the window saw it.
struct ProgressRecord {
    int slot = -1;
    int sent = 0;
    int size = 0;
};

// Records every channel text, progress record, station text and alert, from any thread.
class Recorder : public NotifyTarget {
public:
    long OnStatusMessage(unsigned message, std::uintptr_t wParam, const void* lParam) override {
        std::lock_guard lock(mu_);
        if (message != WM_DOWNLOAD_STATUS) ++wrongMessages_;
        switch (wParam) {
            case STATUS_CHANNEL_TEXT: {
                const auto& e = *static_cast<const IMAGE_ENTRY*>(lParam);
                if (IsChannel(e.nChannel)) texts_[e.nChannel].push_back(e.szPath);
                break;
            }
            case STATUS_PROGRESS: {
                const auto& e = *static_cast<const IMAGE_ENTRY*>(lParam);
                if (IsChannel(e.nChannel))
                    progress_[e.nChannel].push_back({e.nSlot, e.nSent, e.nSize});
                break;
            }
            case STATUS_STATION_TEXT:
                station_.push_back(static_cast<const char*>(lParam));
                break;
            default:
                ++wrongMessages_;
                break;
        }
        return 0;
    }
    void OnAlert(int channel, const char* text) override {
        std::lock_guard lock(mu_);
        if (IsChannel(channel)) alerts_[channel].push_back(text);
    }

    std::vector<std::string> Texts(int ch) const {
        std::lock_guard lock(mu_);
        return texts_[ch];
    }
    std::string LastText(int ch) const {
        std::lock_guard lock(mu_);
        return texts_[ch].empty() ? std::string() : texts_[ch].back();
    }
    std::vector<ProgressRecord> Progress(int ch) const {
        std::lock_guard lock(mu_);
        return progress_[ch];
    }
    std::vector<std::string> Alerts(int ch) const {
        std::lock_guard lock(mu_);
        return alerts_[ch];
    }
    std::vector<std::string> StationTexts() const {
        std::lock_guard lock(mu_);
        return station_;
    }
    int WrongMessages() const {
        std::lock_guard lock(mu_);
        return wrongMessages_;
    }

private:
    mutable std::mutex mu_;
    std::array<std::vector<std::string>, kChannels> texts_;
    std::array<std::vector<ProgressRecord>, kChannels> progress_;
    std::array<std::vector<std::string>, kChannels> alerts_;
    std::vector<std::string> station_;
    int wrongMessages_ = 0;
};

// --- Injected waiting ----------------------------------------------------------------------

// Passes that return at once and are counted: for waits no real peer has to end.
inline std::atomic<long long> g_instantPasses{0};
inline std::int64_t InstantPass(int, std::int64_t) {
    ++g_instantPasses;
    return 1000;
}

// A clock that runs g_passScale times faster for the link's waits only: each pass really waits
// for bytes (so a live handset keeps up) but counts for g_passScale times the time it took.
inline std::atomic<int> g_passScale{20};
inline std::int64_t ScaledPass(int channel, std::int64_t maxMicros) {
    const int scale = g_passScale.load();
    SerialHandle handle = g_hSerialDevice.Get(channel);
    const int fd = handle ? handle->PollFd() : -1;
    const auto start = Clock::now();
    CHANNEL_WAKE_Wait(channel, fd, std::max<std::int64_t>(1, maxMicros / scale));
    const auto took =
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
    return std::max<std::int64_t>(1, took) * scale;
}

// Real passes and pauses (the handsets run on threads of their own), a fixed tick: every
// completion text reads "[0 sec]".
class FixedTickClock final : public StationClock {
public:
    std::int64_t WaitPass(int channel, std::int64_t maxMicros) override {
        return STATION_RealClock().WaitPass(channel, maxMicros);
    }
    void Pause(int channel, int milliseconds) override {
        STATION_RealClock().Pause(channel, milliseconds);
    }
    std::uint32_t TickMs() override { return 123456u; }
};
inline FixedTickClock g_fixedTickClock;

// A station of the test's own, bound to the test's thread: its ports, links, results and
// workers are its own and go with it at the end of the test. No write pause, a fixed tick; the
// settings are put to their start values.
inline Environment TestEnvironment() {
    Environment env;
    env.delayMs = 0;
    env.clock = &g_fixedTickClock;
    return env;
}

class JobGuard {
public:
    explicit JobGuard(Environment env = TestEnvironment())
        : station_(std::move(env)), scope_(station_) {
        SETTINGS_ResetGlobals();
        g_nDelay = 0;
        g_instantPasses = 0;
    }
    ~JobGuard() {
        PELOR_Stop();
        SETTINGS_ResetGlobals();
    }
    JobGuard(const JobGuard&) = delete;
    JobGuard& operator=(const JobGuard&) = delete;
    Station& station() { return station_; }

private:
    Station station_;
    StationScope scope_;
};

// --- Files ---------------------------------------------------------------------------------

using ::TempDir;

// Deterministic bytes that differ from block to block and from seed to seed.
inline Bytes Pattern(std::size_t size, std::uint32_t seed) {
    Bytes out(size);
    std::uint32_t x = seed * 2654435761u + 1u;
    for (std::size_t i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out[i] = static_cast<std::uint8_t>(x >> 11);
    }
    return out;
}

inline bool WriteBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

// Sizes of the images of a code folder.
struct CodeSizes {
    std::size_t partition = 300;
    std::size_t boot = 20000;  // each of pbl, qcsblhd_cfgdata, qcsbl, oemsblhd, oemsbl
    std::size_t amssHeader = 1000;
    std::size_t amss = 0x70000 + 40000;
};

// A code folder dir/NAME holding the images of every code slot; sets g_szCodeFile and the
// folder and base name derived from it. Returns the folder.
inline std::string MakeCodeFolder(const TempDir& dir, const std::string& name,
                                  const CodeSizes& sizes = {}) {
    const std::string folder = dir.File(name);
    std::filesystem::create_directories(folder);
    std::uint32_t seed = 1;
    WriteBytes(folder + "/partition.mbn", Pattern(sizes.partition, seed++));
    for (const char* boot : {"pbl", "qcsblhd_cfgdata", "qcsbl", "oemsblhd", "oemsbl"}) {
        WriteBytes(folder + "/" + boot + ".mbn", Pattern(sizes.boot, seed++));
    }
    WriteBytes(folder + "/" + name + "hd.mbn", Pattern(sizes.amssHeader, seed++));
    WriteBytes(folder + "/" + name + ".mbn", Pattern(sizes.amss, seed++));
    SETTINGS_CopyText(g_szCodeFile, folder);
    SETTINGS_SplitCodePath();
    return folder;
}

// A small code image set without the boot chain (the AMSS amssBlocks blocks past its header) in
// dir/WZRTAll, at address 0x70000, filled into the current station's image tables.
inline void FillSmallCode(const TempDir& dir, int amssBlocks = 3) {
    CodeSizes sizes;
    sizes.amss = 0x70000 + static_cast<std::size_t>(amssBlocks) * kBlockSize;
    MakeCodeFolder(dir, "WZRTAll", sizes);
    SETTINGS_CopyText(g_szCodeAddress, "70000");
    DownloadControls c;
    c.codeChecked = true;
    c.codeAddressText = "70000";
    ASSERT_EQ(PELOR_FillImages(c, nullptr), DOWNLOAD_READY);
}

// --- Simulated handsets ---------------------------------------------------------------------

inline SimOptions WithFaults(const char* list) {
    SimOptions options;
    std::string error;
    if (!SIM_ParseFaults(list, options.faults, error)) ADD_FAILURE() << list << ": " << error;
    return options;
}

// A handset on a line the station reaches through port number `port`.
struct Line {
    std::unique_ptr<SimHandset> handset;
    int port = 0;
    std::string loopName;

    Line() = default;
    Line(Line&& other) noexcept
        : handset(std::move(other.handset)),
          port(std::exchange(other.port, 0)),
          loopName(std::exchange(other.loopName, std::string())) {}
    Line& operator=(Line&&) = delete;
    ~Line() {
        handset.reset();
        if (!loopName.empty()) LOOPBACK_Remove(loopName);
    }
    SimHandset& operator*() const { return *handset; }
    SimHandset* operator->() const { return handset.get(); }
};

inline Line LoopLine(SimOptions options = {}) {
    static std::atomic<int> counter{0};
    Line line;
    line.loopName = "jobs" + std::to_string(counter++);
    const int fd = LOOPBACK_Create(line.loopName);
    EXPECT_GE(fd, 0);
    line.handset = SimHandset::StartOnFd(fd, std::move(options));
    EXPECT_NE(line.handset, nullptr);
    line.port = PORTTABLE_Assign("loop:" + line.loopName);
    EXPECT_GT(line.port, 0);
    return line;
}

inline Line PtyLine(SimOptions options = {}) {
    Line line;
    std::string error;
    line.handset = SimHandset::StartOnPty(std::move(options), &error);
    EXPECT_NE(line.handset, nullptr) << error;
    if (line.handset) line.port = PORTTABLE_Assign(line.handset->DevicePath());
    EXPECT_GT(line.port, 0);
    return line;
}

// A port number whose device does not exist.
inline int AbsentPort(const std::string& tag) {
    return PORTTABLE_Assign("/dev/pelor-jobs-absent-" + tag);
}

// Starts a run with these ports, runs it to its end and stops it. Returns how long it took.
inline std::chrono::milliseconds RunChannels(Recorder& recorder, const Ports& ports,
                                             const RunPump& pump = {}) {
    const auto start = Clock::now();
    EXPECT_EQ(PELOR_Start(&recorder, WM_DOWNLOAD_STATUS, ports, kBaud), 1);
    EXPECT_EQ(PELOR_Run(pump), 1);
    EXPECT_EQ(PELOR_Stop(), 1);
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
}

// Waits until the handset has taken no request for a while (what the station sent last has
// arrived), then returns its log.
inline std::vector<SimRequest> SettledLog(const SimHandset& handset) {
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    std::size_t count = handset.RequestCount();
    while (Clock::now() < deadline) {
        if (handset.WaitForRequests(count + 1, std::chrono::milliseconds(100)) == 0) break;
        count = handset.RequestCount();
    }
    return handset.Requests();
}

inline std::string NameOf(const SimRequest& r) {
    if (!r.crcOk) return "BAD_CRC";
    const char* name = r.code >= 0 ? SIM_CommandName(static_cast<std::uint8_t>(r.code)) : nullptr;
    return name != nullptr ? name : "?";
}

// The request names in order, runs of one name as NAME*n unless collapse is false:
// "UNLOCK VERSION WRITE*3 CLOSE".
inline std::string Sequence(const std::vector<SimRequest>& log, bool collapse = true) {
    std::string out;
    for (std::size_t i = 0; i < log.size();) {
        const std::string name = NameOf(log[i]);
        std::size_t n = 1;
        while (collapse && i + n < log.size() && NameOf(log[i + n]) == name) ++n;
        if (!out.empty()) out += ' ';
        out += name;
        if (n > 1) out += "*" + std::to_string(n);
        i += n;
    }
    return out;
}

inline std::vector<SimRequest> OfCode(const std::vector<SimRequest>& log, int commandIndex) {
    std::vector<SimRequest> out;
    for (const SimRequest& r : log) {
        if (r.crcOk && r.code == kCommandCodes[commandIndex]) out.push_back(r);
    }
    return out;
}

// What the channel's image table should have left in the handset's flash, compared.
inline SimVerifyReport VerifyChannel(const SimHandset& handset, int channel) {
    std::vector<SimExpectedImage> images;
    std::string error;
    SimVerifyReport report;
    if (!SIM_ExpectedImages(channel, images, &error)) {
        report.ok = false;
        report.text = error;
        return report;
    }
    return handset.Verify(images);
}

// The channel's job is over and left nothing behind.
inline void ExpectChannelEnded(int ch, int result) {
    EXPECT_EQ(g_nChannelResult[ch].load(), result) << "channel " << ch;
    EXPECT_EQ(g_nComPort[ch].load(), 0) << "channel " << ch;
    EXPECT_FALSE(g_hSerialDevice.IsOpen(ch)) << "channel " << ch;
}

inline bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace jobs_test
