#include "results/sqlite_store.h"

#include <sqlite3.h>

#include <filesystem>
#include <system_error>

#include "config/text_encoding.h"

namespace {

// The schema's steps: step n takes a file from version n - 1 to version n.
constexpr const char* kMigrations[] = {
    // 1: one row per channel job.
    "CREATE TABLE jobs ("
    " seq INTEGER PRIMARY KEY AUTOINCREMENT,"
    " job_id TEXT NOT NULL UNIQUE,"
    " station TEXT NOT NULL,"
    " channel INTEGER NOT NULL,"
    " port TEXT NOT NULL,"
    " device TEXT NOT NULL,"
    " started_at TEXT NOT NULL,"
    " ended_at TEXT NOT NULL,"
    " images TEXT NOT NULL,"
    " boot INTEGER NOT NULL,"
    " erase TEXT NOT NULL,"
    " format INTEGER NOT NULL,"
    " resource_address TEXT NOT NULL,"
    " bytes_sent INTEGER NOT NULL,"
    " result TEXT NOT NULL,"
    " last_text TEXT NOT NULL,"
    " version TEXT NOT NULL);"
    "CREATE INDEX jobs_started ON jobs(started_at);",
    // 2: the failure's step and reason, and the mark of rows that have gone up to a server
    // (rows recorded before it are waiting).
    "ALTER TABLE jobs ADD COLUMN fail_step TEXT NOT NULL DEFAULT '';"
    "ALTER TABLE jobs ADD COLUMN fail_reason TEXT NOT NULL DEFAULT '';"
    "ALTER TABLE jobs ADD COLUMN uploaded INTEGER NOT NULL DEFAULT 0;"
    "CREATE INDEX jobs_pending ON jobs(uploaded, seq);",
    // 3: rows the server refused for good (uploaded = 2) and the server's reason.
    "ALTER TABLE jobs ADD COLUMN refusal TEXT NOT NULL DEFAULT '';",
};

// The states of a row's "uploaded" column.
constexpr int kWaiting = 0;
constexpr int kOnServer = 1;
constexpr int kRefused = 2;
static_assert(std::size(kMigrations) == kResultsSchemaVersion);

constexpr const char* kColumns =
    "job_id, station, channel, port, device, started_at, ended_at, images, boot, erase, format, "
    "resource_address, bytes_sent, result, last_text, fail_step, fail_reason, version, refusal";

std::string Message(sqlite3* db, const std::string& what) {
    const int code = sqlite3_extended_errcode(db);
    std::string text = what + ": " + sqlite3_errmsg(db);
    if ((code & 0xff) == SQLITE_FULL) text += " (the disk is full)";
    if ((code & 0xff) == SQLITE_READONLY || (code & 0xff) == SQLITE_CANTOPEN ||
        (code & 0xff) == SQLITE_PERM) {
        text += " (no write access?)";
    }
    return text;
}

class Statement {
public:
    Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr); }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    sqlite3_stmt* get() const { return stmt_; }
    void Text(int i, const std::string& v) {
        sqlite3_bind_text(stmt_, i, v.c_str(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    }
    void Int(int i, std::int64_t v) { sqlite3_bind_int64(stmt_, i, v); }
    std::string ColumnText(int i) const {
        const unsigned char* t = sqlite3_column_text(stmt_, i);
        return t != nullptr ? reinterpret_cast<const char*>(t) : "";
    }

private:
    sqlite3_stmt* stmt_ = nullptr;
};

}  // namespace

std::unique_ptr<SqliteResultsStore> SqliteResultsStore::Open(const std::string& path,
                                                             std::string* error, int targetVersion,
                                                             const char* vfs) {
    // The station's paths are narrow text: the system code page on Windows, where SQLite takes
    // UTF-8 and the folder is made from the path's UTF-16 form.
#ifdef _WIN32
    const std::filesystem::path file(TEXT_NarrowToUtf16(path));
#else
    const std::filesystem::path file(path);
#endif
    std::error_code ec;
    const std::filesystem::path folder = file.parent_path();
    if (!folder.empty()) std::filesystem::create_directories(folder, ec);
    if (ec) {
        *error = "cannot create the folder " + folder.string() + ": " + ec.message();
        return nullptr;
    }
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(TEXT_NarrowToUtf8(path).c_str(), &db,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, vfs);
    if (rc != SQLITE_OK) {
        *error = db != nullptr ? Message(db, "cannot open " + path) : "cannot open " + path;
        sqlite3_close(db);
        return nullptr;
    }
    std::unique_ptr<SqliteResultsStore> store(new SqliteResultsStore(db));
    sqlite3_busy_timeout(db, 5000);
    std::string why;
    // synchronous=FULL makes each committed row survive a power cut.
    if (!store->UseWal(&why) || !store->Exec("PRAGMA synchronous=FULL", &why) ||
        !store->Migrate(targetVersion, &why)) {
        *error = path + ": " + why;
        return nullptr;
    }
    return store;
}

bool SqliteResultsStore::UseWal(std::string* error) {
    // WAL: a reader (`pelor results`) never blocks the station's writes. It needs memory shared
    // beside the file; where the file system has none (some network folders) the rollback
    // journal keeps every committed row just as safe, and readers wait for a write to end.
    std::string why;
    if (Exec("PRAGMA journal_mode=WAL", &why) && JournalMode() == "wal") return true;
    if (!Exec("PRAGMA journal_mode=DELETE", error)) {
        if (!why.empty()) *error = why;
        return false;
    }
    note_ = "the results file keeps a rollback journal instead of a write-ahead log" +
            (why.empty() ? std::string() : " (" + why + ")") +
            "; readers wait while a job is recorded";
    return true;
}

std::string SqliteResultsStore::JournalMode() const {
    Statement s(db_, "PRAGMA journal_mode");
    if (s.get() == nullptr || sqlite3_step(s.get()) != SQLITE_ROW) return "";
    return s.ColumnText(0);
}

SqliteResultsStore::~SqliteResultsStore() {
    sqlite3_close(db_);
}

bool SqliteResultsStore::Exec(const std::string& sql, std::string* error) {
    char* text = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &text) == SQLITE_OK) return true;
    *error = text != nullptr ? text : sqlite3_errmsg(db_);
    if ((sqlite3_extended_errcode(db_) & 0xff) == SQLITE_FULL) *error += " (the disk is full)";
    sqlite3_free(text);
    return false;
}

int SqliteResultsStore::SchemaVersion() const {
    Statement s(db_,
                "SELECT version FROM schema_version WHERE (SELECT count(*) FROM sqlite_master "
                "WHERE name = 'schema_version') > 0");
    if (s.get() == nullptr) return 0;
    return sqlite3_step(s.get()) == SQLITE_ROW ? sqlite3_column_int(s.get(), 0) : 0;
}

bool SqliteResultsStore::Migrate(int targetVersion, std::string* error) {
    if (!Exec("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)", error)) {
        return false;
    }
    // One transaction per step: a step is either wholly there or not at all. The write lock is
    // taken first (IMMEDIATE), so two programs opening a new file do not both migrate it.
    for (;;) {
        if (!Exec("BEGIN IMMEDIATE", error)) return false;
        const int version = SchemaVersion();
        if (version > kResultsSchemaVersion) {
            Exec("ROLLBACK", error);
            *error = "its schema version " + std::to_string(version) +
                     " is newer than this program knows (" + std::to_string(kResultsSchemaVersion) +
                     "); use a newer pelor";
            return false;
        }
        if (version >= targetVersion) return Exec("COMMIT", error);
        const std::string step =
            std::string(kMigrations[version]) +
            (version == 0
                 ? "INSERT INTO schema_version VALUES (1);"
                 : "UPDATE schema_version SET version = " + std::to_string(version + 1) + ";");
        std::string why;
        if (!Exec(step, &why) || !Exec("COMMIT", &why)) {
            Exec("ROLLBACK", error);
            *error =
                "cannot bring the schema to version " + std::to_string(version + 1) + ": " + why;
            return false;
        }
    }
}

bool SqliteResultsStore::Add(const JobRecord& r, std::string* error) {
    Statement s(db_,
                "INSERT INTO jobs (job_id, station, channel, port, device, started_at, ended_at, "
                "images, boot, erase, format, resource_address, bytes_sent, result, last_text, "
                "fail_step, fail_reason, version) VALUES "
                "(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17, ?18) "
                "ON CONFLICT (job_id) DO NOTHING");
    if (s.get() == nullptr) {
        *error = Message(db_, "cannot record the job");
        return false;
    }
    s.Text(1, r.jobId);
    s.Text(2, r.station);
    s.Int(3, r.channel);
    s.Text(4, r.port);
    s.Text(5, r.device);
    s.Text(6, r.startedAt);
    s.Text(7, r.endedAt);
    s.Text(8, RESULTS_ImagesToJson(r.images));
    s.Int(9, r.boot ? 1 : 0);
    s.Text(10, r.erase);
    s.Int(11, r.format ? 1 : 0);
    s.Text(12, r.resourceAddress);
    s.Int(13, r.bytesSent);
    s.Text(14, r.result);
    s.Text(15, r.lastText);
    s.Text(16, r.failStep);
    s.Text(17, r.failReason);
    s.Text(18, r.version);
    if (sqlite3_step(s.get()) != SQLITE_DONE) {
        *error = Message(db_, "cannot record the job");
        return false;
    }
    return true;
}

bool SqliteResultsStore::Select(const std::string& where, const std::vector<std::string>& args,
                                int limit, std::vector<JobRecord>* records, std::string* error,
                                std::vector<std::string>* reasons,
                                const std::function<bool(const std::string&)>& skip) {
    records->clear();
    if (reasons != nullptr) reasons->clear();
    std::string sql = std::string("SELECT ") + kColumns + " FROM jobs" + where + " ORDER BY seq";
    if (limit > 0 && !skip) sql += " LIMIT " + std::to_string(limit);
    Statement s(db_, sql.c_str());
    if (s.get() == nullptr) {
        *error = Message(db_, "cannot read the jobs");
        return false;
    }
    for (std::size_t i = 0; i < args.size(); ++i) s.Text(static_cast<int>(i + 1), args[i]);
    int rc = SQLITE_OK;
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
        if (skip && skip(s.ColumnText(0))) continue;
        if (limit > 0 && static_cast<int>(records->size()) >= limit) {
            rc = SQLITE_DONE;
            break;
        }
        JobRecord r;
        r.jobId = s.ColumnText(0);
        r.station = s.ColumnText(1);
        r.channel = sqlite3_column_int(s.get(), 2);
        r.port = s.ColumnText(3);
        r.device = s.ColumnText(4);
        r.startedAt = s.ColumnText(5);
        r.endedAt = s.ColumnText(6);
        RESULTS_ImagesFromJson(s.ColumnText(7), &r.images);
        r.boot = sqlite3_column_int(s.get(), 8) != 0;
        r.erase = s.ColumnText(9);
        r.format = sqlite3_column_int(s.get(), 10) != 0;
        r.resourceAddress = s.ColumnText(11);
        r.bytesSent = sqlite3_column_int64(s.get(), 12);
        r.result = s.ColumnText(13);
        r.lastText = s.ColumnText(14);
        r.failStep = s.ColumnText(15);
        r.failReason = s.ColumnText(16);
        r.version = s.ColumnText(17);
        if (reasons != nullptr) reasons->push_back(s.ColumnText(18));
        records->push_back(std::move(r));
    }
    if (rc != SQLITE_DONE) {
        *error = Message(db_, "cannot read the jobs");
        return false;
    }
    return true;
}

bool SqliteResultsStore::Load(const ResultsFilter& filter, std::vector<JobRecord>* records,
                              std::string* error) {
    std::vector<JobRecord> all;
    std::string where;
    std::vector<std::string> args;
    if (!filter.station.empty()) {
        where = " WHERE station = ?1";
        args.push_back(filter.station);
    }
    if (!Select(where, args, 0, &all, error)) return false;
    records->clear();
    for (JobRecord& r : all) {
        if (RESULTS_Passes(filter, r)) records->push_back(std::move(r));
    }
    return true;
}

bool SqliteResultsStore::PendingExcept(int limit,
                                       const std::function<bool(const std::string&)>& skip,
                                       std::vector<JobRecord>* records, std::string* error) {
    return Select(" WHERE uploaded = " + std::to_string(kWaiting), {}, limit, records, error,
                  nullptr, skip);
}

bool SqliteResultsStore::CountPending(int* count, std::string* error) {
    // The index on (uploaded, seq) counts without reading a row.
    Statement s(db_, "SELECT count(*) FROM jobs WHERE uploaded = ?1");
    if (s.get() != nullptr) s.Int(1, kWaiting);
    if (s.get() == nullptr || sqlite3_step(s.get()) != SQLITE_ROW) {
        *error = Message(db_, "cannot count the waiting jobs");
        return false;
    }
    *count = sqlite3_column_int(s.get(), 0);
    return true;
}

bool SqliteResultsStore::MarkRefused(const std::string& jobId, const std::string& reason,
                                     std::string* error) {
    Statement s(db_, "UPDATE jobs SET uploaded = ?1, refusal = ?2 WHERE job_id = ?3");
    if (s.get() == nullptr) {
        *error = Message(db_, "cannot mark a row as refused");
        return false;
    }
    s.Int(1, kRefused);
    // An empty reason would read as "not refused".
    s.Text(2, reason.empty() ? "refused" : reason);
    s.Text(3, jobId);
    if (sqlite3_step(s.get()) != SQLITE_DONE) {
        *error = Message(db_, "cannot mark a row as refused");
        return false;
    }
    return true;
}

bool SqliteResultsStore::Refused(std::vector<RefusedJob>* rows, std::string* error) {
    rows->clear();
    std::vector<JobRecord> records;
    std::vector<std::string> reasons;
    if (!Select(" WHERE uploaded = " + std::to_string(kRefused), {}, 0, &records, error,
                &reasons)) {
        return false;
    }
    for (std::size_t i = 0; i < records.size(); ++i) {
        rows->push_back({std::move(records[i]), reasons[i]});
    }
    return true;
}

bool SqliteResultsStore::MarkUploaded(const std::vector<std::string>& jobIds, std::string* error) {
    if (!Exec("BEGIN IMMEDIATE", error)) return false;
    for (const std::string& id : jobIds) {
        Statement s(db_, "UPDATE jobs SET uploaded = ?1 WHERE job_id = ?2");
        if (s.get() != nullptr) {
            s.Int(1, kOnServer);
            s.Text(2, id);
        }
        if (s.get() == nullptr || sqlite3_step(s.get()) != SQLITE_DONE) {
            *error = Message(db_, "cannot mark rows as sent");
            std::string ignored;
            Exec("ROLLBACK", &ignored);
            return false;
        }
    }
    return Exec("COMMIT", error);
}

std::unique_ptr<LocalResultsStore> RESULTS_OpenLocalStore(const std::string& path,
                                                          std::string* error) {
    return SqliteResultsStore::Open(path, error);
}
