// The line read from a line's PostgreSQL server, in a session that only reads and listens for
// the stations' signals.
#include <libpq-fe.h>

#include <cstdlib>
#include <map>

#include "results/job_record.h"
#include "results/line_view.h"
#include "results/pg_session.h"
#include "results/server_target.h"

namespace {

constexpr const char* kUtc = "YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"";
// The server's "no such table": no station has published (or recorded) yet.
constexpr const char* kUndefinedTable = "42P01";

using Table = std::vector<std::vector<std::string>>;

// The rows of a query (none for a missing table); false with *error set on any other failure.
bool Query(PgSession& session, const std::string& sql, const std::vector<const char*>& params,
           Table* table, std::string* error) {
    table->clear();
    const PgReply reply = session.Exec(sql, params);
    if (!reply.ok) {
        if (reply.sqlstate == kUndefinedTable) return true;
        *error = "cannot read the line: " + reply.message +
                 (reply.sqlstate.empty() ? "" : " (SQLSTATE " + reply.sqlstate + ")");
        return false;
    }
    pg_result* res = reply.rows.get();
    const int rows = res != nullptr ? PQntuples(res) : 0;
    const int columns = res != nullptr ? PQnfields(res) : 0;
    for (int i = 0; i < rows; ++i) {
        std::vector<std::string>& row = table->emplace_back();
        for (int c = 0; c < columns; ++c) row.emplace_back(PQgetvalue(res, i, c));
    }
    return true;
}

int Int(const std::string& text) {
    return std::atoi(text.c_str());
}

class PgLineSource : public LineSource {
public:
    explicit PgLineSource(std::unique_ptr<PgSession> session) : session_(std::move(session)) {}

    bool Read(std::int64_t dayStartMs, LineView* view, std::string* error) override {
        const std::string utc = std::string(kUtc);
        Table sockets;
        if (!Query(*session_,
                   "SELECT station, channel, device, state, progress, text, fail_step, "
                   "fail_reason, suspect, coalesce(to_char(job_started_at AT TIME ZONE 'UTC', '" +
                       utc + "'), ''), to_char(updated_at AT TIME ZONE 'UTC', '" + utc +
                       "') FROM pelor_sockets ORDER BY station COLLATE \"C\", channel",
                   {}, &sockets, error)) {
            return false;
        }
        const std::string since = RESULTS_FormatUtc(dayStartMs);
        Table jobs;
        if (!Query(*session_,
                   "SELECT station, count(*), count(*) FILTER (WHERE result = 'done'), "
                   "(extract(epoch FROM min(started_at)) * 1000)::bigint, "
                   "(extract(epoch FROM max(ended_at)) * 1000)::bigint FROM pelor_jobs "
                   "WHERE started_at >= $1::timestamptz GROUP BY station",
                   {since.c_str()}, &jobs, error)) {
            return false;
        }
        Table failures;
        if (!Query(*session_,
                   "SELECT station, fail_step, cause, n FROM (SELECT station, fail_step, CASE WHEN "
                   "fail_reason = '' THEN last_text ELSE fail_reason END AS cause, count(*) AS n "
                   "FROM pelor_jobs WHERE started_at >= $1::timestamptz AND result <> 'done' "
                   "GROUP BY 1, 2, 3) g ORDER BY station COLLATE \"C\", n DESC, fail_step "
                   "COLLATE \"C\", cause COLLATE \"C\"",
                   {since.c_str()}, &failures, error)) {
            return false;
        }

        LineView v;
        v.generatedMs = RESULTS_NowUnixMs();
        v.dayStartMs = dayStartMs;
        // By name: the stations with sockets and those with jobs today.
        std::map<std::string, LineStation> byName;
        auto station = [&](const std::string& name) -> LineStation& {
            LineStation& st = byName[name];
            st.station = name;
            return st;
        };
        for (const auto& row : sockets) {
            LineSocket k;
            k.channel = Int(row[1]);
            k.device = row[2];
            k.state = row[3];
            k.progress = Int(row[4]);
            k.text = row[5];
            k.failStep = row[6];
            k.failReason = row[7];
            k.suspect = row[8];
            k.jobStartedAt = row[9];
            k.updated = row[10];
            LineStation& st = station(row[0]);
            if (k.updated > st.updated) st.updated = k.updated;
            if (!k.suspect.empty()) v.suspects.push_back({row[0], k.channel, k.device, k.suspect});
            st.sockets.push_back(std::move(k));
        }
        for (const auto& row : jobs) {
            LineToday& t = station(row[0]).today;
            t.jobs = Int(row[1]);
            t.done = Int(row[2]);
            t.failed = t.jobs - t.done;
            t.yield = t.jobs > 0 ? 100.0 * t.done / t.jobs : 0;
            t.perHour =
                RESULTS_PerHour(t.done, std::atoll(row[3].c_str()), std::atoll(row[4].c_str()));
        }
        for (const auto& row : failures) {
            station(row[0]).today.failures.push_back({row[1], row[2], Int(row[3])});
        }
        for (auto& [name, st] : byName) v.stations.push_back(std::move(st));
        *view = std::move(v);
        return true;
    }

    bool AwaitChange(std::chrono::milliseconds bound, bool* changed) override {
        std::vector<std::string> payloads;
        const bool ok = session_->AwaitNotifications(bound, &payloads);
        *changed = !payloads.empty();
        return ok;
    }

    bool Usable() const override { return session_->Usable(); }

private:
    std::unique_ptr<PgSession> session_;
};

}  // namespace

std::unique_ptr<LineSource> RESULTS_OpenLineSource(const std::string& url,
                                                   const ServerLimits& limits,
                                                   const std::atomic<bool>* stop,
                                                   std::string* error) {
    std::unique_ptr<PgSession> session = PgSession::Connect(url, limits, stop, error);
    if (!session) return nullptr;
    // Read-only transactions: whatever this session is given to run, it writes nothing.
    const PgReply set =
        session->ExecScript("SET default_transaction_read_only = on; LISTEN pelor_line");
    if (!set.ok) {
        *error =
            "the results server " + RESULTS_MaskedTarget(url) + " cannot be read: " + set.message;
        return nullptr;
    }
    return std::make_unique<PgLineSource>(std::move(session));
}
