#include "results/pg_store.h"

#include <libpq-fe.h>

#include <array>
#include <cstdlib>

#include "results/server_target.h"
#include "results/summary.h"

namespace {

constexpr const char* kSchema =
    "SELECT pg_advisory_xact_lock(7271990319);"
    "CREATE TABLE IF NOT EXISTS pelor_schema_version (version integer NOT NULL);"
    "CREATE TABLE IF NOT EXISTS pelor_jobs ("
    " job_id uuid PRIMARY KEY,"
    " station text NOT NULL,"
    " channel integer NOT NULL,"
    " port text NOT NULL,"
    " device text NOT NULL,"
    " started_at timestamptz NOT NULL,"
    " ended_at timestamptz NOT NULL,"
    " images jsonb NOT NULL,"
    " boot boolean NOT NULL,"
    " erase text NOT NULL,"
    " format boolean NOT NULL,"
    " resource_address text NOT NULL,"
    " bytes_sent bigint NOT NULL,"
    " result text NOT NULL,"
    " last_text text NOT NULL,"
    " fail_step text NOT NULL,"
    " fail_reason text NOT NULL,"
    " version text NOT NULL,"
    " received_at timestamptz NOT NULL DEFAULT now());"
    "CREATE INDEX IF NOT EXISTS pelor_jobs_started ON pelor_jobs (started_at);"
    "INSERT INTO pelor_schema_version SELECT 1 WHERE NOT EXISTS "
    " (SELECT 1 FROM pelor_schema_version);";

constexpr const char* kUtc = "YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"";

// " WHERE ..." for the filter (empty for none), its values added to params.
std::string Where(const ResultsFilter& filter, std::vector<const char*>* params) {
    std::string where;
    if (!filter.station.empty()) {
        params->push_back(filter.station.c_str());
        where += " station = $" + std::to_string(params->size());
    }
    if (!filter.since.empty()) {
        params->push_back(filter.since.c_str());
        if (!where.empty()) where += " AND";
        where += " started_at >= $" + std::to_string(params->size()) + "::timestamptz";
    }
    return where.empty() ? where : " WHERE" + where;
}

// The rows of a query's result, one vector of texts per row.
using Table = std::vector<std::vector<std::string>>;

Table Rows(const PgReply& reply) {
    Table table;
    pg_result* res = reply.rows.get();
    const int rows = res != nullptr ? PQntuples(res) : 0;
    const int columns = res != nullptr ? PQnfields(res) : 0;
    for (int i = 0; i < rows; ++i) {
        std::vector<std::string>& row = table.emplace_back();
        for (int c = 0; c < columns; ++c) row.emplace_back(PQgetvalue(res, i, c));
    }
    return table;
}

int Int(const std::string& text) {
    return std::atoi(text.c_str());
}

}  // namespace

std::unique_ptr<PgResultsStore> PgResultsStore::Open(const std::string& url, std::string* error,
                                                     const ServerLimits& limits,
                                                     const std::atomic<bool>* stop) {
    std::unique_ptr<PgSession> session = PgSession::Connect(url, limits, stop, error);
    if (!session) return nullptr;
    // The tables are made only where they are missing: a server that can only be read (a
    // standby) still serves `pelor results`, and a table held by another session's lock does
    // not hold up the login.
    const PgReply known = session->Exec(
        "SELECT to_regclass('pelor_jobs') IS NOT NULL AND "
        "to_regclass('pelor_schema_version') IS NOT NULL");
    if (!known.ok) {
        *error =
            "the results server " + RESULTS_MaskedTarget(url) + " cannot be read: " + known.message;
        return nullptr;
    }
    if (PQntuples(known.rows.get()) != 1 || PQgetvalue(known.rows.get(), 0, 0)[0] != 't') {
        const PgReply made = session->ExecScript(std::string("BEGIN;") + kSchema + "COMMIT;");
        if (!made.ok) {
            *error = "the results server " + RESULTS_MaskedTarget(url) +
                     " would not make its tables: " + made.message;
            return nullptr;
        }
    }
    return std::unique_ptr<PgResultsStore>(new PgResultsStore(std::move(session)));
}

bool PgResultsStore::Connected() const {
    return session_->Usable();
}

SendVerdict PgResultsStore::Send(const JobRecord& r, std::string* error) {
    const std::string channel = std::to_string(r.channel);
    const std::string images = RESULTS_ImagesToJson(r.images);
    const std::string bytes = std::to_string(r.bytesSent);
    const std::array<const char*, 18> params = {r.jobId.c_str(),
                                                r.station.c_str(),
                                                channel.c_str(),
                                                r.port.c_str(),
                                                r.device.c_str(),
                                                r.startedAt.c_str(),
                                                r.endedAt.c_str(),
                                                images.c_str(),
                                                r.boot ? "true" : "false",
                                                r.erase.c_str(),
                                                r.format ? "true" : "false",
                                                r.resourceAddress.c_str(),
                                                bytes.c_str(),
                                                r.result.c_str(),
                                                r.lastText.c_str(),
                                                r.failStep.c_str(),
                                                r.failReason.c_str(),
                                                r.version.c_str()};
    const PgReply reply = session_->Exec(
        "INSERT INTO pelor_jobs (job_id, station, channel, port, device, started_at, ended_at, "
        "images, boot, erase, format, resource_address, bytes_sent, result, last_text, "
        "fail_step, fail_reason, version) VALUES ($1::uuid, $2, $3::integer, $4, $5, "
        "$6::timestamptz, $7::timestamptz, $8::jsonb, $9::boolean, $10, $11::boolean, $12, "
        "$13::bigint, $14, $15, $16, $17, $18) ON CONFLICT (job_id) DO NOTHING",
        {params.begin(), params.end()});
    if (reply.ok) return SendVerdict::Sent;
    *error = reply.message + (reply.sqlstate.empty() ? "" : " (SQLSTATE " + reply.sqlstate + ")");
    return RESULTS_VerdictOfFailure(reply.sqlstate);
}

bool PgResultsStore::Load(const ResultsFilter& filter, std::vector<JobRecord>* records,
                          std::string* error) {
    records->clear();
    std::string sql = std::string(
                          "SELECT job_id::text, station, channel, port, device, "
                          "to_char(started_at AT TIME ZONE 'UTC', '") +
                      kUtc + "'), to_char(ended_at AT TIME ZONE 'UTC', '" + kUtc +
                      "'), images::text, boot, erase, format, resource_address, bytes_sent, "
                      "result, last_text, fail_step, fail_reason, version FROM pelor_jobs";
    std::vector<const char*> params;
    sql += Where(filter, &params) + " ORDER BY started_at, channel, job_id";
    const PgReply reply = session_->Exec(sql, params);
    if (!reply.ok) {
        *error = reply.message;
        return false;
    }
    pg_result* res = reply.rows.get();
    const int rows = res != nullptr ? PQntuples(res) : 0;
    for (int i = 0; i < rows; ++i) {
        auto text = [&](int column) { return std::string(PQgetvalue(res, i, column)); };
        JobRecord r;
        r.jobId = text(0);
        r.station = text(1);
        r.channel = std::atoi(text(2).c_str());
        r.port = text(3);
        r.device = text(4);
        r.startedAt = text(5);
        r.endedAt = text(6);
        RESULTS_ImagesFromJson(text(7), &r.images);
        r.boot = text(8) == "t";
        r.erase = text(9);
        r.format = text(10) == "t";
        r.resourceAddress = text(11);
        r.bytesSent = std::atoll(text(12).c_str());
        r.result = text(13);
        r.lastText = text(14);
        r.failStep = text(15);
        r.failReason = text(16);
        r.version = text(17);
        records->push_back(std::move(r));
    }
    return true;
}

bool PgResultsStore::Summarise(const ResultsFilter& filter, ResultsSummary* summary,
                               std::string* error) {
    // As RESULTS_Summarise counts: a job failed unless its result is "done", a day and an hour
    // are those of its start in UTC, the cause of a failure is its step and its reason (else
    // its last text), and the medians are of the jobs that finished and took time. Text is
    // ordered by its bytes, as the station orders it.
    std::vector<const char*> params;
    const std::string jobs =
        "(SELECT *, result <> 'done' AS failed, extract(epoch FROM ended_at - started_at)::float8 "
        "AS seconds FROM pelor_jobs" +
        Where(filter, &params) + ") j";
    const char* failures = "count(*) FILTER (WHERE failed)";
    const std::string queries[] = {
        std::string("SELECT count(*), ") + failures +
            ", percentile_cont(0.5) WITHIN GROUP (ORDER BY seconds) FILTER (WHERE NOT failed AND "
            "seconds > 0), percentile_cont(0.5) WITHIN GROUP (ORDER BY bytes_sent / seconds) "
            "FILTER (WHERE NOT failed AND seconds > 0) FROM " +
            jobs,
        "SELECT * FROM (SELECT to_char(started_at AT TIME ZONE 'UTC', 'YYYY-MM-DD') AS day, "
        "station, count(*) AS n, " +
            std::string(failures) + " FROM " + jobs +
            " GROUP BY 1, 2) g ORDER BY day COLLATE \"C\", station COLLATE \"C\"",
        "SELECT * FROM (SELECT fail_step, CASE WHEN fail_reason = '' THEN last_text ELSE "
        "fail_reason END AS cause, count(*) AS n FROM " +
            jobs +
            " WHERE failed GROUP BY 1, 2) g ORDER BY n DESC, fail_step COLLATE \"C\", cause "
            "COLLATE \"C\"",
        "SELECT station, channel, device, count(*), " + std::string(failures) + " FROM " + jobs +
            " GROUP BY 1, 2, 3 ORDER BY station COLLATE \"C\", channel, device COLLATE \"C\"",
        "SELECT floor(extract(epoch FROM started_at) / 3600)::bigint, count(*), " +
            std::string(failures) + " FROM " + jobs + " GROUP BY 1 ORDER BY 1",
    };
    std::vector<Table> tables;
    for (const std::string& sql : queries) {
        const PgReply reply = session_->Exec(sql, params);
        if (!reply.ok) {
            *error = reply.message;
            return false;
        }
        tables.push_back(Rows(reply));
    }
    ResultsSummary s;
    if (!tables[0].empty()) {
        const std::vector<std::string>& totals = tables[0][0];
        s.jobs = Int(totals[0]);
        s.failures = Int(totals[1]);
        s.medianSeconds = std::atof(totals[2].c_str());
        s.medianBytesPerSecond = std::atof(totals[3].c_str());
    }
    for (const auto& row : tables[1]) s.days.push_back({row[0], row[1], Int(row[2]), Int(row[3])});
    for (const auto& row : tables[2]) s.causes.push_back({row[0], row[1], Int(row[2])});
    for (const auto& row : tables[3]) {
        s.sockets.push_back({row[0], Int(row[1]), row[2], Int(row[3]), Int(row[4])});
    }
    std::vector<std::pair<std::int64_t, ResultsSummary::Hour>> hours;
    for (const auto& row : tables[4]) {
        ResultsSummary::Hour hour;
        hour.jobs = Int(row[1]);
        hour.failures = Int(row[2]);
        hours.emplace_back(std::atoll(row[0].c_str()), hour);
    }
    s.hours = RESULTS_EveryHour(hours);
    *summary = std::move(s);
    return true;
}

std::unique_ptr<ServerResultsStore> RESULTS_OpenServerStore(const std::string& url,
                                                            std::string* error,
                                                            const ServerLimits& limits,
                                                            const std::atomic<bool>* stop) {
    return PgResultsStore::Open(url, error, limits, stop);
}

std::string RESULTS_NoServerReason() {
    return "";
}
