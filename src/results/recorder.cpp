#include "results/recorder.h"

#include "config/version.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {
constexpr int kUploadBatch = 50;
}

std::string RESULTS_HostName() {
#ifdef _WIN32
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof name;
    if (GetComputerNameA(name, &size) && size > 0) return std::string(name, size);
#else
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) == 0 && name[0] != '\0') return name;
#endif
    return "station";
}

const char* RESULTS_SoftwareVersion() {
    static const std::string text = PELOR_VersionText();
    return text.c_str();
}

ResultsRecorder::ResultsRecorder(ResultsConfig config) : config_(std::move(config)) {
    if (config_.station.empty()) config_.station = RESULTS_HostName();
    if (!config_.enabled) return;
    databasePath_ =
        config_.databasePath.empty() ? RESULTS_DefaultDatabasePath() : config_.databasePath;
    std::string error;
    if (databasePath_.empty()) {
#ifdef _WIN32
        Say("results: not kept on this station: no folder for them (set LOCALAPPDATA)");
#else
        Say("results: not kept on this station: no folder for them (set XDG_DATA_HOME or HOME)");
#endif
    } else {
        local_ = RESULTS_OpenLocalStore(databasePath_, &error);
        if (!local_) {
            Say("results: not kept on this station: " + error);
            databasePath_.clear();
        } else if (!local_->Note().empty()) {
            Say("results: " + local_->Note());
        }
    }
    if (config_.serverUrl.empty()) return;
    if (!RESULTS_IsServerUrl(config_.serverUrl)) {
        Say("results: \"" + RESULTS_HidePassword(config_.serverUrl) +
            "\" is not a results server URL (postgresql://HOST/DATABASE); nothing goes to a "
            "server");
        return;
    }
    if (const std::string why = RESULTS_NoServerReason(); !why.empty()) {
        // No server will ever take them: no rows said to wait for one.
        Say("results: " + why + (local_ ? "; jobs are kept on this station only" : ""));
        return;
    }
    if (local_) {
        std::vector<JobRecord> pending;
        if (local_->Pending(1 << 30, &pending, &error)) {
            waiting_ = static_cast<int>(pending.size());
        }
    }
    uploader_ = std::thread([this] { UploadLoop(); });
}

ResultsRecorder::~ResultsRecorder() {
    {
        std::lock_guard lock(wakeMu_);
        stop_ = true;
    }
    wake_.notify_all();
    if (uploader_.joinable()) uploader_.join();
}

std::string ResultsRecorder::DatabasePath() const {
    std::lock_guard lock(storeMu_);
    return local_ ? databasePath_ : std::string();
}

void ResultsRecorder::Say(const std::string& line) {
    std::lock_guard lock(messagesMu_);
    messages_.push_back(line);
}

std::vector<std::string> ResultsRecorder::TakeMessages() {
    std::lock_guard lock(messagesMu_);
    return std::exchange(messages_, {});
}

void ResultsRecorder::Record(const JobRecord& record) {
    (record.result == kResultDone ? done_ : failed_)++;
    if (!config_.enabled) return;
    const bool server = uploader_.joinable();
    {
        std::lock_guard lock(storeMu_);
        std::string error;
        bool kept = false;
        if (local_) {
            kept = local_->Add(record, &error);
            if (!kept && error != lastStoreProblem_) {
                lastStoreProblem_ = error;
                Say("results: job of channel " + std::to_string(record.channel) +
                    " not kept on this station: " + error);
            }
            if (kept) lastStoreProblem_.clear();
        }
        if (!kept && server) memory_.Add(record, &error);
        if (server) ++waiting_;
    }
    if (server) {
        {
            std::lock_guard lock(wakeMu_);
            nudged_ = true;
        }
        wake_.notify_all();
    }
}

int ResultsRecorder::Waiting() const {
    return waiting_.load();
}

bool ResultsRecorder::Flush(std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (waiting_.load() > 0) {
        if (serverDown_.load() || std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

bool ResultsRecorder::UploadSome(ResultsStore& server) {
    // Rows from the station's file first (they are older), then those it could not take.
    std::vector<JobRecord> batch;
    bool fromFile = false;
    {
        std::lock_guard lock(storeMu_);
        std::string error;
        if (local_ && local_->Pending(kUploadBatch, &batch, &error) && !batch.empty()) {
            fromFile = true;
        } else {
            memory_.Pending(kUploadBatch, &batch, &error);
        }
    }
    if (batch.empty()) return false;
    std::vector<std::string> sent;
    bool lost = false;
    for (const JobRecord& r : batch) {
        std::string error;
        if (server.Add(r, &error)) {
            sent.push_back(r.jobId);
            continue;
        }
        if (!server.Connected()) {
            lost = true;
            break;
        }
        // The server refuses this row for good (its data): it stays on this station only.
        Say("results: the server refused job " + r.jobId + ": " + error);
        sent.push_back(r.jobId);
    }
    {
        std::lock_guard lock(storeMu_);
        std::string error;
        if (fromFile) {
            if (!local_->MarkUploaded(sent, &error)) {
                // They will go up again; the server keeps one row per job id.
                Say("results: cannot mark rows as sent: " + error);
            }
        } else {
            memory_.MarkUploaded(sent, &error);
        }
    }
    waiting_ -= static_cast<int>(sent.size());
    if (waiting_.load() < 0) waiting_ = 0;
    return !lost;
}

void ResultsRecorder::UploadLoop() {
    std::unique_ptr<ResultsStore> server;
    // Non-empty while the server cannot be had: an outage is told once, not once a try.
    std::string problem;
    for (;;) {
        {
            std::lock_guard lock(wakeMu_);
            if (stop_) return;
            nudged_ = false;
        }
        bool retryLater = false;
        if (!server) {
            std::string error;
            server = RESULTS_OpenServerStore(config_.serverUrl, &error);
            if (!server) {
                serverDown_ = true;
                if (problem.empty()) Say("results: " + error + "; rows wait on this station");
                problem = error;
                retryLater = true;
            } else if (!problem.empty()) {
                serverDown_ = false;
                problem.clear();
                Say("results: the results server is reachable again");
            }
        }
        if (server) {
            bool more = true;
            while (more) {
                {
                    std::lock_guard lock(wakeMu_);
                    if (stop_) return;
                }
                more = UploadSome(*server);
                if (!server->Connected()) {
                    server.reset();
                    serverDown_ = true;
                    const std::string lost = "the connection to the results server was lost";
                    if (problem.empty()) Say("results: " + lost + "; rows wait on this station");
                    problem = lost;
                    retryLater = true;
                    break;
                }
            }
        }
        std::unique_lock lock(wakeMu_);
        if (retryLater) {
            wake_.wait_for(lock, config_.retryInterval, [this] { return stop_; });
        } else {
            wake_.wait(lock, [this] { return stop_ || nudged_; });
        }
    }
}
