#include "results/run_recording.h"

#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>

#include "config/settings.h"
#include "jobs/file_download.h"
#include "link/image_table.h"
#include "link/outcome.h"
#include "results/recorder.h"
#include "results/sha256.h"

namespace {

// Digests of files already read, keyed by path, size and change time: a station that flashes
// the same images all day reads them once.
struct DigestCache {
    std::mutex mu;
    std::map<std::string, std::pair<std::string, std::string>> entries;  // path -> (stamp, hex)
};

DigestCache& Cache() {
    static DigestCache cache;
    return cache;
}

RecordedImage Describe(const std::string& path) {
    namespace fs = std::filesystem;
    RecordedImage image;
    image.name = fs::path(path).filename().string();
    std::error_code ec;
    const auto size = fs::file_size(path, ec);
    const auto changed = fs::last_write_time(path, ec);
    if (ec) return image;
    image.size = static_cast<std::int64_t>(size);
    const std::string stamp =
        std::to_string(size) + "/" + std::to_string(changed.time_since_epoch().count());
    DigestCache& cache = Cache();
    {
        std::lock_guard lock(cache.mu);
        const auto known = cache.entries.find(path);
        if (known != cache.entries.end() && known->second.first == stamp) {
            image.sha256 = known->second.second;
            return image;
        }
    }
    std::int64_t read = 0;
    if (SHA256_File(path, &image.sha256, &read) == 1) {
        image.size = read;
        std::lock_guard lock(cache.mu);
        cache.entries[path] = {stamp, image.sha256};
    }
    return image;
}

}  // namespace

std::vector<std::string> RESULTS_FilesOfRun() {
    std::vector<std::string> paths;
    for (int slot = 0; slot < kSlots; ++slot) {
        const IMAGE_ENTRY& e = g_ImageTable[0][slot];
        if (e.szPath[0] == '\0' || std::strcmp(e.szPath, kDummyPath) == 0) continue;
        paths.emplace_back(e.szPath);
    }
    return paths;
}

std::vector<RecordedImage> RESULTS_DescribeImages(const std::vector<std::string>& paths) {
    std::vector<RecordedImage> images;
    for (const std::string& path : paths) images.push_back(Describe(path));
    return images;
}

std::string RESULTS_StableDeviceName(const std::string& port) {
#ifdef _WIN32
    // The COM port's name as Windows lists it, without the device path's "\\.\" before it.
    const std::string devicePrefix = "\\\\.\\";
    return port.rfind(devicePrefix, 0) == 0 ? port.substr(devicePrefix.size()) : port;
#else
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path byPath = "/dev/serial/by-path";
    if (port.rfind(byPath.string() + "/", 0) == 0) return port;
    const fs::path target = fs::canonical(port, ec);
    if (ec) return port;
    for (auto it = fs::directory_iterator(byPath, ec); !ec && it != fs::directory_iterator();
         it.increment(ec)) {
        std::error_code e2;
        if (fs::canonical(it->path(), e2) == target && !e2) return it->path().string();
    }
    return port;
#endif
}

RunRecording::RunRecording(ResultsRecorder& recorder,
                           const std::array<std::string, kChannels>& ports)
    : RunRecording(recorder) {
    const std::int64_t now = RESULTS_NowUnixMs();
    for (int ch = 0; ch < kChannels; ++ch) {
        if (!ports[ch].empty()) JobStarted(ch, ports[ch], now);
    }
}

RunRecording::RunRecording(ResultsRecorder& recorder) : recorder_(recorder) {
    if (!recorder_.Enabled()) return;
    digests_ = std::async(std::launch::async, RESULTS_DescribeImages, RESULTS_FilesOfRun());
    boot_ = g_bChangeBootArea != 0;
    erase_ = g_bEraseAllNand != 0 ? "all" : g_bEraseNand != 0 ? "except-backup" : "none";
    format_ = g_bFormat.load() != 0;
    resourceAddress_ = g_bEtc2Check != 0 ? g_szEtc2Address : "";
}

void RunRecording::JobStarted(int channel, const std::string& port, std::int64_t startMs) {
    if (!IsChannel(channel)) return;
    pending_[channel] = true;
    ports_[channel] = port;
    jobIds_[channel] = RESULTS_NewJobId();
    startMs_[channel] = startMs;
}

JobRecord RunRecording::Base(int channel) const {
    JobRecord r;
    r.jobId = jobIds_[channel].empty() ? RESULTS_NewJobId() : jobIds_[channel];
    r.station = recorder_.Station();
    r.channel = channel;
    r.port = ports_[channel];
    r.device = RESULTS_StableDeviceName(ports_[channel]);
    r.startedAt = RESULTS_FormatUtc(startMs_[channel]);
    r.endedAt = RESULTS_FormatUtc(RESULTS_NowUnixMs());
    r.images = images_;
    r.boot = boot_;
    r.erase = erase_;
    r.format = format_;
    r.resourceAddress = resourceAddress_;
    r.version = RESULTS_SoftwareVersion();
    return r;
}

JobRecord RunRecording::Build(int channel, bool ok, const std::string& lastText) const {
    JobRecord r = Base(channel);
    for (const IMAGE_ENTRY& e : g_ImageTable[channel]) r.bytesSent += e.nSent;
    r.result = ok ? kResultDone : kResultFailed;
    r.lastText = lastText;
    const JobOutcome failure = OUTCOME_Get(channel);
    if (!ok && failure.Failed()) {
        // The step where the job failed and why; a port that would not open keeps the system's
        // own words (busy, permission denied...), which tell the operator more than "port".
        r.failStep = OUTCOME_StepName(failure.step);
        r.failReason = failure.step == JobStep::Open && !failure.detail.empty()
                           ? failure.detail
                           : OUTCOME_ReasonName(failure.reason);
    }
    return r;
}

void RunRecording::TakeImages() {
    if (digests_.valid()) images_ = digests_.get();
}

void RunRecording::RecordChannel(int channel, int result, const BarTextOf& barText) {
    pending_[channel] = false;
    TakeImages();
    Put(Build(channel, result == 1, barText ? barText(channel) : std::string()));
}

void RunRecording::JobEnded(int channel, bool ok, const std::string& lastText) {
    if (!InFlight(channel)) return;
    pending_[channel] = false;
    TakeImages();
    Put(Build(channel, ok, lastText));
}

void RunRecording::Cut(const std::string& reason, const BarTextOf& barText) {
    TakeImages();
    for (int ch = 0; ch < kChannels; ++ch) {
        if (!pending_[ch]) continue;
        const int result = g_nChannelResult[ch].load();
        if (result != -1) {
            RecordChannel(ch, result, barText);
            continue;
        }
        // Still running: its worker is cut off with the run, so nothing of its own state is
        // read (the bytes it sent are not known here).
        pending_[ch] = false;
        JobRecord r = Base(ch);
        r.result = kResultFailed;
        r.lastText = barText ? barText(ch) : std::string();
        r.failStep = "stopped";
        r.failReason = reason;
        Put(r);
    }
}

void RunRecording::Put(const JobRecord& record) {
    recorder_.Record(record);
    if (recorded_) recorded_(record);
}

void RunRecording::Poll(const BarTextOf& barText) {
    for (int ch = 0; ch < kChannels; ++ch) {
        if (!pending_[ch]) continue;
        const int result = g_nChannelResult[ch].load();
        if (result != -1) RecordChannel(ch, result, barText);
    }
}

void RunRecording::Finish(const BarTextOf& barText) {
    for (int ch = 0; ch < kChannels; ++ch) {
        if (pending_[ch]) RecordChannel(ch, g_nChannelResult[ch].load(), barText);
    }
}
