#include "results/recorder.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <utility>

#include "config/version.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {
constexpr int kUploadBatch = 50;
constexpr std::chrono::milliseconds kStopAtLeast{100};
}  // namespace

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

// Everything the uploader touches. It is shared with the uploader's thread, so that an uploader
// left behind at Close (its server never let go) still works on live state.
struct ResultsRecorder::Shared {
    enum class Pass { Idle, Progress, TryLater, Stopped };

    ResultsConfig config;
    std::string databasePath;
    std::string target;  // the server as messages name it
    bool uploading = false;

    std::mutex storeMu;  // guards local, memory and lastStoreProblem
    std::unique_ptr<LocalResultsStore> local;
    MemoryResultsStore memory;  // rows the station's file could not take
    std::string lastStoreProblem;

    std::atomic<int> waiting{0};
    std::atomic<bool> serverDown{false};  // the last try failed; rows wait for the next
    std::atomic<bool> stop{false};        // also ends the server's waits

    std::mutex messagesMu;  // guards messages, outageLine and problem
    std::vector<std::string> messages;
    std::optional<std::size_t> outageLine;  // the outage's line, while it has not been taken
    std::string problem;                    // what keeps the rows from the server now

    std::mutex wakeMu;  // guards nudged and ended
    std::condition_variable wake;
    bool nudged = false;
    bool ended = false;

    void Say(const std::string& line) {
        std::lock_guard lock(messagesMu);
        messages.push_back(line);
    }

    // Where waiting rows are: the station's file, else only this program's memory.
    std::string WaitingPlace() const {
        return !databasePath.empty() ? "on this station (in " + databasePath + ")"
                                     : "in memory only and are lost when the program ends";
    }

    // The server cannot take rows now; said once per outage, however many tries it takes.
    void Outage(const std::string& why) {
        serverDown = true;
        std::lock_guard lock(messagesMu);
        if (problem.empty()) {
            messages.push_back("results: " + why + "; rows wait " + WaitingPlace());
            outageLine = messages.size() - 1;
        }
        problem = why;
    }

    void Recovered() {
        serverDown = false;
        std::lock_guard lock(messagesMu);
        if (problem.empty()) return;
        problem.clear();
        messages.push_back("results: the results server is reachable again");
    }

    Pass SendSome(ServerResultsStore& server, std::string* why);
    void Loop();
};

ResultsRecorder::ResultsRecorder(ResultsConfig config) : shared_(std::make_shared<Shared>()) {
    Shared& s = *shared_;
    s.config = std::move(config);
    if (s.config.station.empty()) s.config.station = RESULTS_HostName();
    if (!s.config.enabled) return;
    const std::string path =
        s.config.databasePath.empty() ? RESULTS_DefaultDatabasePath() : s.config.databasePath;
    std::string error;
    if (path.empty()) {
#ifdef _WIN32
        s.Say("results: not kept on this station: no folder for them (set LOCALAPPDATA)");
#else
        s.Say("results: not kept on this station: no folder for them (set XDG_DATA_HOME or HOME)");
#endif
    } else {
        s.local = RESULTS_OpenLocalStore(path, &error);
        if (!s.local) {
            s.Say("results: not kept on this station: " + error);
        } else {
            s.databasePath = path;
            if (!s.local->Note().empty()) s.Say("results: " + s.local->Note());
        }
    }
    if (s.config.serverUrl.empty()) return;
    s.target = RESULTS_MaskedTarget(s.config.serverUrl);
    if (!RESULTS_IsServerUrl(s.config.serverUrl)) {
        s.Say("results: \"" + s.target +
              "\" is not a results server URL (postgresql://HOST/DATABASE); nothing goes to a "
              "server");
        return;
    }
    if (const std::string why = RESULTS_NoServerReason(); !why.empty()) {
        // No server will ever take them: no rows said to wait for one.
        s.Say("results: " + why + (s.local ? "; jobs are kept on this station only" : ""));
        return;
    }
    if (s.local) {
        std::vector<JobRecord> pending;
        if (s.local->Pending(1 << 30, &pending, &error)) {
            s.waiting = static_cast<int>(pending.size());
        }
    }
    s.uploading = true;
    uploader_ = std::thread([shared = shared_] { shared->Loop(); });
}

ResultsRecorder::~ResultsRecorder() {
    Close();
}

bool ResultsRecorder::Enabled() const {
    return shared_->config.enabled;
}

const std::string& ResultsRecorder::Station() const {
    return shared_->config.station;
}

std::string ResultsRecorder::DatabasePath() const {
    return shared_->databasePath;
}

std::vector<std::string> ResultsRecorder::TakeMessages() {
    Shared& s = *shared_;
    std::lock_guard lock(s.messagesMu);
    s.outageLine.reset();
    return std::exchange(s.messages, {});
}

void ResultsRecorder::Record(const JobRecord& record) {
    (record.result == kResultDone ? done_ : failed_)++;
    Shared& s = *shared_;
    if (!s.config.enabled) return;
    // After Close the rows stay on the station for a later run.
    const bool server = uploader_.joinable();
    {
        std::lock_guard lock(s.storeMu);
        std::string error;
        bool kept = false;
        if (s.local) {
            kept = s.local->Add(record, &error);
            if (!kept && error != s.lastStoreProblem) {
                s.lastStoreProblem = error;
                s.Say("results: job of channel " + std::to_string(record.channel) +
                      " not kept on this station: " + error);
            }
            if (kept) s.lastStoreProblem.clear();
        }
        if (!kept && server) s.memory.Add(record, &error);
        if (server) ++s.waiting;
    }
    if (server) {
        {
            std::lock_guard lock(s.wakeMu);
            s.nudged = true;
        }
        s.wake.notify_all();
    }
}

int ResultsRecorder::Waiting() const {
    return shared_->waiting.load();
}

bool ResultsRecorder::Flush(std::chrono::milliseconds bound) {
    const Shared& s = *shared_;
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (s.waiting.load() > 0) {
        if (s.serverDown.load() || std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void ResultsRecorder::Close(std::chrono::milliseconds bound) {
    if (closed_) return;
    closed_ = true;
    Shared& s = *shared_;
    if (!s.uploading) return;
    const auto end = std::chrono::steady_clock::now() + bound;
    // Most of the bound for the server to take what waits; the rest for stopping.
    const auto reserve = std::min<std::chrono::milliseconds>(bound / 2, std::chrono::seconds(1));
    Flush(bound - reserve);
    {
        std::lock_guard lock(s.wakeMu);
        s.stop = true;
    }
    s.wake.notify_all();
    // A stop is given a moment even when the bound is spent: the uploader notices it within
    // one pass of its waits.
    const auto stopBy = std::max(end, std::chrono::steady_clock::now() + kStopAtLeast);
    bool ended = false;
    {
        std::unique_lock lock(s.wakeMu);
        ended = s.wake.wait_until(lock, stopBy, [&s] { return s.ended; });
    }
    if (ended) {
        uploader_.join();
    } else {
        // Something below the session's own bounds (a name lookup) holds it: it is left to end
        // by itself, on state it shares, and never marks a row it did not send.
        uploader_.detach();
    }
    const int waiting = s.waiting.load();
    if (waiting <= 0) return;
    std::lock_guard lock(s.messagesMu);
    const std::string why = !s.problem.empty()
                                ? s.problem
                                : "the results server " + s.target + " did not take them in time";
    const std::string line = "results: " + why + "; " + std::to_string(waiting) + " job(s) wait " +
                             s.WaitingPlace() + " and go up with a later run";
    // One line for the outage and the rows it leaves waiting.
    if (s.outageLine && *s.outageLine < s.messages.size()) {
        s.messages[*s.outageLine] = line;
    } else {
        s.messages.push_back(line);
    }
}

ResultsRecorder::Shared::Pass ResultsRecorder::Shared::SendSome(ServerResultsStore& server,
                                                                std::string* why) {
    // Rows from the station's file first (they are older), then those it could not take.
    std::vector<JobRecord> batch;
    bool fromFile = false;
    {
        std::lock_guard lock(storeMu);
        std::string error;
        if (local && local->Pending(kUploadBatch, &batch, &error) && !batch.empty()) {
            fromFile = true;
        } else {
            memory.Pending(kUploadBatch, &batch, &error);
        }
    }
    if (batch.empty()) return Pass::Idle;
    std::vector<std::string> sent;
    std::vector<RefusedJob> refused;
    Pass pass = Pass::Progress;
    for (const JobRecord& r : batch) {
        if (stop.load()) {
            pass = Pass::Stopped;
            break;
        }
        std::string error;
        const SendVerdict verdict = server.Send(r, &error);
        if (verdict == SendVerdict::Sent) {
            sent.push_back(r.jobId);
        } else if (verdict == SendVerdict::RowRefused) {
            refused.push_back({r, error});
        } else {
            *why = server.Connected()
                       ? "the results server " + target + " did not take the rows: " + error
                       : "lost the connection to the results server " + target + ": " + error;
            pass = Pass::TryLater;
            break;
        }
    }
    {
        std::lock_guard lock(storeMu);
        LocalResultsStore& store = fromFile ? *local : static_cast<LocalResultsStore&>(memory);
        std::string error;
        if (!store.MarkUploaded(sent, &error)) {
            // They will go up again; the server keeps one row per job id.
            Say("results: cannot mark rows as sent: " + error);
        }
        for (const RefusedJob& j : refused) {
            if (!store.MarkRefused(j.record.jobId, j.reason, &error)) {
                Say("results: cannot mark a refused row: " + error);
            }
        }
    }
    for (const RefusedJob& j : refused) {
        Say("results: the results server refused job " + j.record.jobId + " of channel " +
            std::to_string(j.record.channel) + " for good: " + j.reason +
            "; it is kept on this station only");
    }
    waiting -= static_cast<int>(sent.size() + refused.size());
    if (waiting.load() < 0) waiting = 0;
    return pass;
}

void ResultsRecorder::Shared::Loop() {
    std::unique_ptr<ServerResultsStore> server;
    std::chrono::milliseconds pause = config.retryInterval;
    for (;;) {
        {
            std::lock_guard lock(wakeMu);
            if (stop) break;
            nudged = false;
        }
        std::string why;
        bool failed = false;
        if (!server) {
            server = RESULTS_OpenServerStore(config.serverUrl, &why, config.server, &stop);
            failed = !server;
        }
        while (server && !failed) {
            const Pass pass = SendSome(*server, &why);
            if (pass == Pass::TryLater) failed = true;
            if (pass == Pass::Idle || pass == Pass::Stopped) break;
        }
        if (stop) break;
        std::unique_lock lock(wakeMu);
        if (failed) {
            // The session is made again at the next try: a failover or a restart may have
            // moved the server, and a given-up statement leaves the session unusable.
            lock.unlock();
            server.reset();
            Outage(why);
            lock.lock();
            wake.wait_for(lock, pause, [this] { return stop.load(); });
            pause = std::min(pause * 2, config.retryMax);
        } else {
            lock.unlock();
            Recovered();
            pause = config.retryInterval;
            lock.lock();
            wake.wait(lock, [this] { return stop.load() || nudged; });
        }
    }
    server.reset();
    {
        std::lock_guard lock(wakeMu);
        ended = true;
    }
    wake.notify_all();
}
