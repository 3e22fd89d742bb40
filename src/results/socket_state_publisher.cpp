#include "results/socket_state_publisher.h"

#include <libpq-fe.h>

#include <algorithm>
#include <condition_variable>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <utility>

#include "results/job_record.h"
#include "results/pg_session.h"
#include "results/recorder.h"
#include "results/server_target.h"

namespace {

constexpr std::chrono::milliseconds kStopAtLeast{100};

// Made where it is missing, under the lock the jobs' tables are made under.
constexpr const char* kTable =
    "BEGIN;"
    "SELECT pg_advisory_xact_lock(7271990319);"
    "CREATE TABLE IF NOT EXISTS pelor_sockets ("
    " station text NOT NULL,"
    " channel integer NOT NULL,"
    " device text NOT NULL,"
    " state text NOT NULL,"
    " progress integer NOT NULL,"
    " text text NOT NULL,"
    " fail_step text NOT NULL,"
    " fail_reason text NOT NULL,"
    " suspect text NOT NULL,"
    " job_started_at timestamptz,"
    " updated_at timestamptz NOT NULL DEFAULT now(),"
    " PRIMARY KEY (station, channel));"
    "COMMIT;";

// One statement, so one transaction: the rows of the batch and the signal that they changed,
// which the server delivers when the statement commits. The signal names the station by its
// first 1000 characters (at most 4000 bytes): the server refuses a signal of 8000 bytes or more,
// and with it the whole batch.
constexpr const char* kBatch =
    "WITH up AS (INSERT INTO pelor_sockets (station, channel, device, state, progress, text, "
    "fail_step, fail_reason, suspect, job_started_at, updated_at) "
    "SELECT $1, r.channel, r.device, r.state, r.progress, r.text, r.fail_step, r.fail_reason, "
    "r.suspect, r.job_started_at, now() FROM jsonb_to_recordset($2::jsonb) AS r(channel integer, "
    "device text, state text, progress integer, text text, fail_step text, fail_reason text, "
    "suspect text, job_started_at timestamptz) "
    "ON CONFLICT (station, channel) DO UPDATE SET device = EXCLUDED.device, state = "
    "EXCLUDED.state, progress = EXCLUDED.progress, text = EXCLUDED.text, fail_step = "
    "EXCLUDED.fail_step, fail_reason = EXCLUDED.fail_reason, suspect = EXCLUDED.suspect, "
    "job_started_at = EXCLUDED.job_started_at, updated_at = EXCLUDED.updated_at RETURNING 1) "
    "SELECT pg_notify('pelor_line', left($1, 1000)), (SELECT count(*) FROM up)";

std::string BatchJson(const std::vector<SocketStateUpdate>& batch) {
    nlohmann::json rows = nlohmann::json::array();
    for (const SocketStateUpdate& u : batch) {
        rows.push_back({{"channel", u.channel},
                        {"device", u.device},
                        {"state", u.state},
                        {"progress", u.progress},
                        {"text", u.text},
                        {"fail_step", u.failStep},
                        {"fail_reason", u.failReason},
                        {"suspect", u.suspect},
                        {"job_started_at", u.jobStartedMs > 0
                                               ? nlohmann::json(RESULTS_FormatUtc(u.jobStartedMs))
                                               : nlohmann::json(nullptr)}});
    }
    return rows.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace

// Everything the thread touches, shared with it so that a thread left behind at Close still
// works on live state.
struct SocketStatePublisher::Shared {
    struct Pending {
        SocketStateUpdate update;
        std::uint64_t version = 0;
    };

    SocketStatesConfig config;
    std::string target;  // the server as messages name it

    std::mutex mu;  // guards everything below but the atomics
    std::condition_variable wake;
    std::map<int, Pending> pending;        // sockets whose latest state has not gone up
    std::map<int, SocketStateUpdate> all;  // every socket's latest state
    std::uint64_t nextVersion = 0;
    bool closing = false;
    bool ended = false;
    std::vector<std::string> messages;
    std::string problem;  // what keeps the view from the server now; empty when nothing
    bool problemSaid = false;

    std::atomic<bool> stop{false};  // also ends the server's waits
    std::atomic<int> batches{0};
    std::atomic<int> rows{0};

    // reached: the server was there but did not take the batch.
    void Outage(const std::string& why, bool reached) {
        std::lock_guard lock(mu);
        if (!problemSaid && (reached || config.sayUnreachable)) {
            messages.push_back("results: the line view is not updated: " + why +
                               "; the jobs are not held up");
            problemSaid = true;
        }
        problem = why;
    }
    void Recovered() {
        std::lock_guard lock(mu);
        if (problem.empty()) return;
        problem.clear();
        if (problemSaid) messages.push_back("results: the line view is updated again");
        problemSaid = false;
    }

    // Sends what is pending; false with *why set when the server did not take it.
    bool SendPending(PgSession& session, std::string* why);
    void Loop();
};

bool SocketStatePublisher::Shared::SendPending(PgSession& session, std::string* why) {
    std::vector<SocketStateUpdate> batch;
    std::map<int, std::uint64_t> versions;
    {
        std::lock_guard lock(mu);
        for (const auto& [channel, p] : pending) {
            batch.push_back(p.update);
            versions[channel] = p.version;
        }
    }
    if (batch.empty()) return true;
    const std::string json = BatchJson(batch);
    const PgReply reply = session.Exec(kBatch, {config.station.c_str(), json.c_str()});
    if (!reply.ok) {
        *why =
            "the results server " + target + " did not take the sockets' states: " + reply.message;
        return false;
    }
    ++batches;
    rows += static_cast<int>(batch.size());
    std::lock_guard lock(mu);
    // A socket that changed again meanwhile stays pending with its newer state.
    for (const auto& [channel, version] : versions) {
        const auto found = pending.find(channel);
        if (found != pending.end() && found->second.version == version) pending.erase(found);
    }
    return true;
}

void SocketStatePublisher::Shared::Loop() {
    std::unique_ptr<PgSession> session;
    std::chrono::milliseconds pause = config.retryInterval;
    for (;;) {
        bool closingNow = false;
        {
            std::unique_lock lock(mu);
            wake.wait(lock, [this] { return stop.load() || closing || !pending.empty(); });
            if (stop || (closing && pending.empty())) break;
            closingNow = closing;
        }
        std::string why;
        bool reached = true;  // a failure below is the server's answer, not its absence
        if (!session) {
            session = PgSession::Connect(config.serverUrl, config.server, &stop, &why);
            reached = session != nullptr;
            // Made only where it is missing: a table held locked by another session then holds up
            // the batches, not the login.
            const PgReply known =
                session ? session->Exec("SELECT to_regclass('pelor_sockets') IS NOT NULL")
                        : PgReply{};
            if (session && !(known.ok && PQntuples(known.rows.get()) == 1 &&
                             PQgetvalue(known.rows.get(), 0, 0)[0] == 't')) {
                const PgReply made = session->ExecScript(kTable);
                if (!made.ok) {
                    why = "the results server " + target +
                          " would not make the sockets' table: " + made.message;
                    reached = session->Usable();
                    session.reset();
                }
            }
        }
        const bool sent = session && SendPending(*session, &why);
        if (stop) break;
        std::unique_lock lock(mu);
        if (!sent) {
            // Made again at the next try: a given-up statement leaves the session unusable.
            lock.unlock();
            if (session && !session->Usable()) {
                reached = false;
                session.reset();
            }
            Outage(why, reached);
            lock.lock();
            // Closing: one try was all the station gives the view.
            if (closingNow) break;
            wake.wait_for(lock, pause, [this] { return stop.load() || closing; });
            pause = std::min(pause * 2, config.retryMax);
            continue;
        }
        lock.unlock();
        Recovered();
        pause = config.retryInterval;
        lock.lock();
        if (closingNow && pending.empty()) break;
        // At most one batch per interval: what changes meanwhile goes up as its latest.
        wake.wait_for(lock, config.interval, [this] { return stop.load() || closing; });
    }
    session.reset();
    {
        std::lock_guard lock(mu);
        ended = true;
    }
    wake.notify_all();
}

SocketStatePublisher::SocketStatePublisher(SocketStatesConfig config)
    : shared_(std::make_shared<Shared>()) {
    shared_->config = std::move(config);
    shared_->target = RESULTS_MaskedTarget(shared_->config.serverUrl);
    thread_ = std::thread([shared = shared_] { shared->Loop(); });
}

SocketStatePublisher::~SocketStatePublisher() {
    Close(kResultsCloseBound);
}

void SocketStatePublisher::Publish(const SocketStateUpdate& update) {
    Shared& s = *shared_;
    {
        std::lock_guard lock(s.mu);
        if (s.closing) return;
        const auto found = s.all.find(update.channel);
        if (found != s.all.end() && found->second == update) return;
        s.all[update.channel] = update;
        s.pending[update.channel] = {update, ++s.nextVersion};
    }
    s.wake.notify_all();
}

std::vector<std::string> SocketStatePublisher::TakeMessages() {
    std::lock_guard lock(shared_->mu);
    return std::exchange(shared_->messages, {});
}

int SocketStatePublisher::Batches() const {
    return shared_->batches.load();
}

int SocketStatePublisher::Rows() const {
    return shared_->rows.load();
}

void SocketStatePublisher::Closing() {
    Shared& s = *shared_;
    {
        std::lock_guard lock(s.mu);
        if (s.closing) return;
        for (auto& [channel, latest] : s.all) {
            // The last result and the suspect badge stay for the line to see.
            SocketStateUpdate off = latest;
            off.state = kSocketOff;
            off.progress = 0;
            off.failStep.clear();
            off.failReason.clear();
            latest = off;
            s.pending[channel] = {off, ++s.nextVersion};
        }
        s.closing = true;
    }
    s.wake.notify_all();
}

void SocketStatePublisher::Close(std::chrono::milliseconds bound) {
    if (closed_) return;
    closed_ = true;
    Shared& s = *shared_;
    const auto end = std::chrono::steady_clock::now() + bound;
    // Most of the bound for the last batch; the rest for stopping.
    const auto reserve = std::min<std::chrono::milliseconds>(bound / 2, std::chrono::seconds(1));
    Closing();
    bool ended = false;
    {
        std::unique_lock lock(s.mu);
        ended = s.wake.wait_until(lock, end - reserve, [&s] { return s.ended; });
    }
    if (!ended) {
        s.stop = true;
        s.wake.notify_all();
        // A stop is given a moment even when the bound is spent: the thread notices it within
        // one pass of its waits.
        const auto stopBy = std::max(end, std::chrono::steady_clock::now() + kStopAtLeast);
        std::unique_lock lock(s.mu);
        ended = s.wake.wait_until(lock, stopBy, [&s] { return s.ended; });
    }
    if (ended) {
        thread_.join();
    } else {
        // Held below the session's own bounds: left to end by itself, on state it shares.
        thread_.detach();
    }
}
