#include "results/recorder.h"

#include <algorithm>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <set>
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
    enum class Pass { Idle, Progress, TryLater, FileTrouble, Stopped };

    ResultsConfig config;
    std::string databasePath;
    std::string target;  // the server as messages name it
    bool uploading = false;

    // Guards local, memory, inFlight, unmarked, fileProblem and markTroubleSaid.
    std::mutex storeMu;
    std::unique_ptr<LocalResultsStore> local;
    MemoryResultsStore memory;       // rows the station's file could not take (yet)
    std::set<std::string> inFlight;  // rows of memory being sent now
    // Rows the server has, or refused for good, that the file could not mark so: job id and the
    // server's refusal ("" when it took the row). They are not sent again by this run.
    std::map<std::string, std::string> unmarked;
    std::string fileProblem;  // why the file did not take the last row; empty when it did
    bool markTroubleSaid = false;

    std::atomic<int> waiting{0};
    std::atomic<bool> serverDown{false};  // the last try failed; rows wait for the next
    std::atomic<bool> stop{false};        // also ends the server's waits

    std::mutex messagesMu;  // guards messages, outageLine, outageTaken and problem
    std::vector<std::string> messages;
    std::optional<std::size_t> outageLine;  // the outage's line, while it has not been taken
    bool outageTaken = false;               // the outage's line was taken as it came
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
        return !databasePath.empty() ? "rows wait on this station (in " + databasePath + ")"
                                     : "rows are held in memory only until it takes them";
    }

    // The server cannot take rows now; said once per outage, however many tries it takes.
    void Outage(const std::string& why) {
        serverDown = true;
        std::lock_guard lock(messagesMu);
        if (problem.empty()) {
            messages.push_back("results: " + why + "; " + WaitingPlace());
            outageLine = messages.size() - 1;
            outageTaken = false;
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

    // Puts the rows held in memory into the station's file where it takes them now, oldest
    // first, with what the server made of them. Called with storeMu held.
    void KeepHeldRowsLocked() {
        if (!local || memory.Rows().empty()) return;
        int kept = 0;
        std::string error;
        const std::vector<MemoryResultsStore::Row> rows = memory.Rows();
        for (const MemoryResultsStore::Row& row : rows) {
            const std::string& id = row.record.jobId;
            if (inFlight.count(id) != 0) continue;
            if (!local->Add(row.record, &error)) break;
            if (row.uploaded) {
                const bool marked = row.refusal.empty()
                                        ? local->MarkUploaded({id}, &error)
                                        : local->MarkRefused(id, row.refusal, &error);
                if (!marked) unmarked[id] = row.refusal;
            }
            memory.Remove(id);
            ++kept;
        }
        if (kept == 0) return;
        fileProblem.clear();
        Say("results: the station's file takes rows again; " + std::to_string(kept) +
            " job(s) held in memory are kept in it now");
    }

    // Marks in the file what the server made of rows the file could not mark before.
    void RetryMarksLocked() {
        if (unmarked.empty() || !local) return;
        std::vector<std::string> sent;
        for (const auto& [id, refusal] : unmarked) {
            if (refusal.empty()) sent.push_back(id);
        }
        std::string error;
        if (!sent.empty() && !local->MarkUploaded(sent, &error)) return;
        for (auto it = unmarked.begin(); it != unmarked.end();) {
            if (it->second.empty() || local->MarkRefused(it->first, it->second, &error)) {
                it = unmarked.erase(it);
            } else {
                ++it;
            }
        }
        if (unmarked.empty()) markTroubleSaid = false;
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
    // Counted, not read: a backlog of any size costs the start nothing.
    int pending = 0;
    if (s.local && s.local->CountPending(&pending, &error)) s.waiting = pending;
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
    if (s.outageLine) s.outageTaken = true;
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
        s.KeepHeldRowsLocked();
        std::string error;
        if (s.local && !s.local->Add(record, &error)) {
            // Held in memory until the file takes it, and sent to the server meanwhile; each
            // job not kept is named.
            const bool same = error == s.fileProblem;
            s.fileProblem = error;
            s.Say("results: job of channel " + std::to_string(record.channel) +
                  " not kept on this station" + (same ? " either" : ": " + error) +
                  "; held in memory" + (server ? " for the results server" : "") +
                  " until the file takes it");
            s.memory.Add(record, &error);
        } else if (!s.local && server) {
            s.memory.Add(record, &error);
        }
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
    if (!s.config.enabled) return;
    if (s.uploading) {
        const auto end = std::chrono::steady_clock::now() + bound;
        // Most of the bound for the server to take what waits; the rest for stopping.
        const auto reserve =
            std::min<std::chrono::milliseconds>(bound / 2, std::chrono::seconds(1));
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
            // Something below the session's own bounds holds it: it is left to end by itself,
            // on state it shares, and never marks a row it did not send.
            uploader_.detach();
        }
    }
    // A last try to put the rows held in memory into the file; what it does not take is lost.
    int lost = 0;
    bool haveFile = false;
    std::string fileProblem;
    {
        std::lock_guard lock(s.storeMu);
        s.KeepHeldRowsLocked();
        lost = s.memory.Unsent();
        haveFile = s.local != nullptr;
        fileProblem = s.fileProblem;
    }
    const int inFile = s.uploading ? std::max(0, s.waiting.load() - lost) : 0;
    if (inFile == 0 && lost == 0) return;
    std::lock_guard lock(s.messagesMu);
    const std::string why = !s.problem.empty()
                                ? s.problem
                                : "the results server " + s.target + " did not take them in time";
    // The outage's line already shown (production mode shows lines as they come) is not
    // repeated: the closing line then only counts.
    const bool told = s.outageTaken && !s.problem.empty();
    std::vector<std::string> lines;
    if (inFile > 0) {
        const std::string count =
            std::to_string(inFile) + " job(s) wait on this station (in " + s.databasePath + ")";
        lines.push_back(told ? "results: " + count + " for the results server " + s.target +
                                   " and go up with a later run"
                             : "results: " + why + "; " + count + " and go up with a later run");
    }
    if (lost > 0) {
        std::string line =
            "results: " + std::to_string(lost) + " job(s) are lost: " +
            (haveFile ? "the station's file could not take them (" + fileProblem + ")"
                      : "there is no results file on this station");
        if (s.uploading) {
            line += " and they did not reach the results server";
            if (lines.empty() && !told) line += " (" + why + ")";
        }
        lines.push_back(line);
    }
    // One line for the outage and the rows it leaves waiting.
    std::size_t next = 0;
    if (s.outageLine && *s.outageLine < s.messages.size())
        s.messages[*s.outageLine] = lines[next++];
    for (; next < lines.size(); ++next) s.messages.push_back(lines[next]);
}

ResultsRecorder::Shared::Pass ResultsRecorder::Shared::SendSome(ServerResultsStore& server,
                                                                std::string* why) {
    // Rows from the station's file first (they are older), then those it could not take; rows
    // the file could not mark as sent are passed over, so the rest, and those held in memory,
    // still go up.
    std::vector<JobRecord> batch;
    bool fromFile = false;
    {
        std::lock_guard lock(storeMu);
        KeepHeldRowsLocked();
        RetryMarksLocked();
        std::string error;
        const auto marked = [this](const std::string& id) { return unmarked.count(id) != 0; };
        if (local && local->PendingExcept(kUploadBatch, marked, &batch, &error) && !batch.empty()) {
            fromFile = true;
        } else {
            memory.Pending(kUploadBatch, &batch, &error);
            for (const JobRecord& r : batch) inFlight.insert(r.jobId);
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
    std::string trouble;  // the file could not mark what the server made of the rows
    {
        std::lock_guard lock(storeMu);
        std::string error;
        if (fromFile) {
            if (!sent.empty() && !local->MarkUploaded(sent, &error)) {
                trouble = error;
                for (const std::string& id : sent) unmarked[id] = "";
            }
            for (const RefusedJob& j : refused) {
                if (!local->MarkRefused(j.record.jobId, j.reason, &error)) {
                    trouble = error;
                    unmarked[j.record.jobId] = j.reason;
                }
            }
        } else {
            memory.MarkUploaded(sent, &error);
            for (const RefusedJob& j : refused)
                memory.MarkRefused(j.record.jobId, j.reason, &error);
            for (const JobRecord& r : batch) inFlight.erase(r.jobId);
        }
        if (!trouble.empty() && !markTroubleSaid) {
            markTroubleSaid = true;
            Say("results: cannot mark rows as sent in the station's file: " + trouble +
                "; they are not sent again by this run, a later run may send them again (the "
                "server keeps each job once)");
        }
    }
    for (const RefusedJob& j : refused) {
        Say("results: the results server refused job " + j.record.jobId + " of channel " +
            std::to_string(j.record.channel) + " for good: " + j.reason +
            "; it is kept on this station only");
    }
    waiting -= static_cast<int>(sent.size() + refused.size());
    if (waiting.load() < 0) waiting = 0;
    if (pass == Pass::Progress && !trouble.empty()) return Pass::FileTrouble;
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
        bool fileTrouble = false;
        if (!server) {
            server = RESULTS_OpenServerStore(config.serverUrl, &why, config.server, &stop);
            failed = !server;
        }
        while (server && !failed) {
            const Pass pass = SendSome(*server, &why);
            if (pass == Pass::TryLater) failed = true;
            fileTrouble = pass == Pass::FileTrouble;
            if (pass != Pass::Progress) break;
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
            if (fileTrouble) {
                // The server took the rows but the file could not say so: a pause before the
                // next batch, not a loop over the file.
                wake.wait_for(lock, config.retryInterval, [this] { return stop.load(); });
            } else {
                wake.wait(lock, [this] { return stop.load() || nudged; });
            }
        }
    }
    server.reset();
    {
        std::lock_guard lock(wakeMu);
        ended = true;
    }
    wake.notify_all();
}
