#include "results/pg_session.h"

#include <libpq-fe.h>

#include <chrono>
#include <system_error>
#include <thread>

#include "results/server_target.h"
#include "results/socket_wait.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How often a wait looks at its owner's stop request.
constexpr milliseconds kStopLook{20};
// A statement the server does not end by itself (its statement_timeout) is given up this much
// later: the server or the line has gone silent.
constexpr milliseconds kBeyondStatementTimeout{2000};

// The first line of a message, without its trailing line break.
std::string FirstLine(const char* message) {
    std::string text = message != nullptr ? message : "";
    const std::size_t nl = text.find('\n');
    if (nl != std::string::npos) text.resize(nl);
    return text.empty() ? "unknown error" : text;
}

std::string Seconds(milliseconds ms) {
    const long long tenths = (ms.count() + 50) / 100;
    return std::to_string(tenths / 10) +
           (tenths % 10 != 0 ? "." + std::to_string(tenths % 10) : "") + " s";
}

bool StopAsked(const std::atomic<bool>* stop) {
    return stop != nullptr && stop->load();
}

}  // namespace

void PgResultFree::operator()(pg_result* result) const {
    PQclear(result);
}

PgSession::PgSession(pg_conn* conn, std::string target, const ServerLimits& limits,
                     const std::atomic<bool>* stop)
    : conn_(conn), target_(std::move(target)), limits_(limits), stop_(stop) {}

PgSession::~PgSession() {
    // Non-blocking: the goodbye to the server never waits on a full socket.
    PQfinish(conn_);
}

std::string PgSession::Masked(const std::string& message) const {
    return RESULTS_MaskedMessage(message, target_);
}

std::unique_ptr<PgSession> PgSession::Connect(const std::string& target, const ServerLimits& limits,
                                              const std::atomic<bool>* stop, std::string* error) {
    const std::string shown = RESULTS_MaskedTarget(target);
    // The station's settings come first, so that the target may change them ("?keepalives=0").
    const std::string silence = std::to_string(limits.silence.count());
    const std::string connectSeconds =
        std::to_string(std::max<long long>(2, (limits.connect.count() + 999) / 1000));
    const char* keys[] = {"connect_timeout",
                          "application_name",
                          "keepalives",
                          "keepalives_idle",
                          "keepalives_interval",
                          "keepalives_count",
                          "tcp_user_timeout",
                          "dbname",
                          nullptr};
    const char* values[] = {connectSeconds.c_str(), "pelor",        "1",    "5", "2", "3",
                            silence.c_str(),        target.c_str(), nullptr};
    PGconn* conn = PQconnectStartParams(keys, values, 1);
    if (conn == nullptr) {
        *error = "cannot reach the results server " + shown + ": out of memory";
        return nullptr;
    }
    std::unique_ptr<PgSession> session(new PgSession(conn, target, limits, stop));
    // The server's notices ("relation already exists, skipping") are not for the operator.
    PQsetNoticeProcessor(
        conn, [](void*, const char*) {}, nullptr);
    auto fail = [&](const std::string& why) {
        *error = "cannot reach the results server " + shown + ": " + why;
        return nullptr;
    };
    if (PQstatus(conn) == CONNECTION_BAD) {
        std::string why = session->Masked(FirstLine(PQerrorMessage(conn)));
        // A client library without TLS (the Windows builds) refuses a target that asks for it.
        if (PQsslAttribute(nullptr, "library") == nullptr &&
            why.find("sslmode") != std::string::npos) {
            why +=
                ": this build of pelor speaks to servers without TLS (use a trusted network "
                "or a local tunnel instead)";
        }
        return fail(why);
    }
    const auto deadline = Clock::now() + limits.connect;
    PostgresPollingStatusType state = PGRES_POLLING_WRITING;
    while (state != PGRES_POLLING_OK) {
        if (state == PGRES_POLLING_FAILED) {
            return fail(session->Masked(FirstLine(PQerrorMessage(conn))));
        }
        if (StopAsked(stop)) return fail("given up: the station is ending");
        if (Clock::now() >= deadline) return fail("no answer within " + Seconds(limits.connect));
        const int ready =
            RESULTS_WaitSocket(PQsocket(conn), state == PGRES_POLLING_WRITING, kStopLook);
        if (ready < 0) return fail("the connection's socket failed");
        if (ready > 0) state = PQconnectPoll(conn);
    }
    if (PQsetnonblocking(conn, 1) != 0)
        return fail(session->Masked(FirstLine(PQerrorMessage(conn))));
    // Nothing on the server may keep a statement of the station's waiting for long.
    const PgReply set =
        session->ExecScript("SET statement_timeout = " + std::to_string(limits.statement.count()) +
                            "; SET lock_timeout = " + std::to_string(limits.lock.count()));
    if (!set.ok) return fail(set.message);
    return session;
}

bool PgSession::Usable() const {
    return !broken_ && PQstatus(conn_) == CONNECTION_OK;
}

PgReply PgSession::Exec(const std::string& sql, const std::vector<const char*>& params) {
    if (!Usable()) return {false, nullptr, "", "the connection is lost", false};
    if (PQsendQueryParams(conn_, sql.c_str(), static_cast<int>(params.size()), nullptr,
                          params.empty() ? nullptr : params.data(), nullptr, nullptr, 0) == 0) {
        broken_ = true;
        return {false, nullptr, "", Masked(FirstLine(PQerrorMessage(conn_))), false};
    }
    return Await();
}

PgReply PgSession::ExecScript(const std::string& sql) {
    if (!Usable()) return {false, nullptr, "", "the connection is lost", false};
    if (PQsendQuery(conn_, sql.c_str()) == 0) {
        broken_ = true;
        return {false, nullptr, "", Masked(FirstLine(PQerrorMessage(conn_))), false};
    }
    return Await();
}

PgReply PgSession::Await() {
    const milliseconds bound = limits_.statement + kBeyondStatementTimeout;
    const auto deadline = Clock::now() + bound;
    PgReply reply;
    reply.ok = true;
    bool failed = false;
    auto giveUp = [&](std::string why, bool stopped) {
        CancelInBackground();
        broken_ = true;
        PgReply r;
        r.message = std::move(why);
        r.stopped = stopped;
        return r;
    };
    for (;;) {
        // Whatever the server has sent is taken before deciding whether to wait.
        const int flushed = PQflush(conn_);
        if (flushed < 0 || PQconsumeInput(conn_) == 0) {
            broken_ = true;
            return {false, nullptr, "", Masked(FirstLine(PQerrorMessage(conn_))), false};
        }
        while (flushed == 0 && PQisBusy(conn_) == 0) {
            PGresult* next = PQgetResult(conn_);
            if (next == nullptr) {
                if (PQstatus(conn_) != CONNECTION_OK) broken_ = true;
                return reply;
            }
            PgResult result(next);
            const ExecStatusType status = PQresultStatus(next);
            if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) {
                if (!failed) reply.rows = std::move(result);
                continue;
            }
            // The first failure is the one that tells why; the rest of a script did not run.
            if (!failed) {
                failed = true;
                reply.ok = false;
                const char* state = PQresultErrorField(next, PG_DIAG_SQLSTATE);
                reply.sqlstate = state != nullptr ? state : "";
                // The server's own words, without the "ERROR:  " libpq puts before them.
                const char* primary = PQresultErrorField(next, PG_DIAG_MESSAGE_PRIMARY);
                reply.message =
                    Masked(FirstLine(primary != nullptr ? primary : PQresultErrorMessage(next)));
                reply.rows.reset();
            }
        }
        if (StopAsked(stop_)) return giveUp("given up: the station is ending", true);
        if (Clock::now() >= deadline) {
            return giveUp("no answer within " + Seconds(bound), false);
        }
        if (RESULTS_WaitSocket(PQsocket(conn_), flushed == 1, kStopLook) < 0) {
            broken_ = true;
            return {false, nullptr, "", "the connection's socket failed", false};
        }
    }
}

void PgSession::CancelInBackground() {
    // The request goes to the server on a connection of its own, which may itself take a while
    // on a silent line: the session is given up at once and the request left to go its way.
    PGcancel* cancel = PQgetCancel(conn_);
    if (cancel == nullptr) return;
    try {
        std::thread([cancel] {
            char why[256];
            PQcancel(cancel, why, sizeof why);
            PQfreeCancel(cancel);
        }).detach();
    } catch (const std::system_error&) {
        // No thread for it: the server ends the statement at its own time-out.
        PQfreeCancel(cancel);
    }
}
