#include "results/pg_session.h"

#include <libpq-fe.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

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

// A login's handshake, made on a thread of its own: the client library looks a host's name up
// inside its calls, and nothing bounds that wait. Shared with the thread, which may outlive the
// Connect that gave up on it; it then ends the connection itself.
struct Login {
    std::vector<std::string> keys;
    std::vector<std::string> values;
    std::chrono::milliseconds bound{};
    std::atomic<bool> stop{false};       // ends the handshake's own waits
    std::atomic<bool> inLibrary{false};  // the thread is inside a call of the client library

    std::mutex mu;  // guards what follows
    std::condition_variable ended;
    bool finished = false;
    bool abandoned = false;  // Connect gave up: the thread ends the connection
    PGconn* conn = nullptr;
    std::string failure;  // empty when the login succeeded
};

// Handshakes that Connect gave up on and that have not ended yet: a name lookup that never
// answers is not asked again and again.
std::atomic<int> g_loginsLeftBehind{0};
constexpr int kLoginsLeftBehindMax = 3;

void Handshake(const std::shared_ptr<Login>& login) {
    std::vector<const char*> keys;
    std::vector<const char*> values;
    for (std::size_t i = 0; i < login->keys.size(); ++i) {
        keys.push_back(login->keys[i].c_str());
        values.push_back(login->values[i].c_str());
    }
    keys.push_back(nullptr);
    values.push_back(nullptr);
    login->inLibrary = true;
    PGconn* conn = PQconnectStartParams(keys.data(), values.data(), 1);
    login->inLibrary = false;
    std::string failure;
    if (conn == nullptr) {
        failure = "out of memory";
    } else if (PQstatus(conn) == CONNECTION_BAD) {
        failure = FirstLine(PQerrorMessage(conn));
        // A client library without TLS (the Windows builds) refuses a target that asks for it.
        if (PQsslAttribute(nullptr, "library") == nullptr &&
            failure.find("sslmode") != std::string::npos) {
            failure +=
                ": this build of pelor speaks to servers without TLS (use a trusted network or a "
                "local tunnel instead)";
        }
    } else {
        // The server's notices ("relation already exists, skipping") are not for the operator.
        PQsetNoticeProcessor(
            conn, [](void*, const char*) {}, nullptr);
        const auto deadline = Clock::now() + login->bound;
        PostgresPollingStatusType state = PGRES_POLLING_WRITING;
        while (state != PGRES_POLLING_OK) {
            if (state == PGRES_POLLING_FAILED) {
                failure = FirstLine(PQerrorMessage(conn));
                break;
            }
            if (login->stop) {
                failure = "given up: the station is ending";
                break;
            }
            if (Clock::now() >= deadline) {
                failure = "no answer within " + Seconds(login->bound);
                break;
            }
            const int ready =
                RESULTS_WaitSocket(PQsocket(conn), state == PGRES_POLLING_WRITING, kStopLook);
            if (ready < 0) {
                failure = "the connection's socket failed";
                break;
            }
            if (ready > 0) {
                login->inLibrary = true;
                state = PQconnectPoll(conn);
                login->inLibrary = false;
            }
        }
    }
    std::unique_lock lock(login->mu);
    if (login->abandoned) {
        lock.unlock();
        PQfinish(conn);
        --g_loginsLeftBehind;
        return;
    }
    login->conn = conn;
    login->failure = failure;
    login->finished = true;
    lock.unlock();
    login->ended.notify_all();
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
    auto fail = [&](const std::string& why) {
        *error = "cannot reach the results server " + shown + ": " + why;
        return nullptr;
    };
    if (g_loginsLeftBehind.load() >= kLoginsLeftBehindMax) {
        return fail("its host name could not be looked up (earlier lookups have not ended)");
    }
    // The station's settings come first, so that the target may change them ("?keepalives=0").
    auto login = std::make_shared<Login>();
    login->keys = {"connect_timeout",     "application_name", "keepalives",       "keepalives_idle",
                   "keepalives_interval", "keepalives_count", "tcp_user_timeout", "dbname"};
    login->values = {std::to_string(std::max<long long>(2, (limits.connect.count() + 999) / 1000)),
                     "pelor",
                     "1",
                     "5",
                     "2",
                     "3",
                     std::to_string(limits.silence.count()),
                     target};
    login->bound = limits.connect;
    try {
        std::thread([login] { Handshake(login); }).detach();
    } catch (const std::system_error&) {
        Handshake(login);  // no thread for it: unbounded only in a name lookup
    }
    // The handshake keeps to the bound itself; a little more is given for it to say so.
    const auto deadline = Clock::now() + limits.connect + kBeyondStatementTimeout / 4;
    std::unique_lock lock(login->mu);
    while (!login->finished) {
        if (StopAsked(stop)) login->stop = true;
        if (Clock::now() >= deadline || (StopAsked(stop) && !login->inLibrary)) break;
        login->ended.wait_for(lock, kStopLook);
    }
    if (!login->finished) {
        // Held inside the client library: looking up a host's name (it does nothing else there
        // that waits). The handshake is left to end by itself.
        login->abandoned = true;
        login->stop = true;
        ++g_loginsLeftBehind;
        if (StopAsked(stop)) return fail("given up: the station is ending");
        return fail(login->inLibrary
                        ? "its host name could not be looked up within " + Seconds(limits.connect)
                        : "no answer within " + Seconds(limits.connect));
    }
    lock.unlock();
    std::unique_ptr<PgSession> session;
    if (login->conn != nullptr) session.reset(new PgSession(login->conn, target, limits, stop));
    if (!login->failure.empty()) return fail(RESULTS_MaskedMessage(login->failure, target));
    if (PQsetnonblocking(login->conn, 1) != 0)
        return fail(session->Masked(FirstLine(PQerrorMessage(login->conn))));
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
    // A session that reads may take as long as the server keeps sending; one that writes rows
    // is given a little more than the server's own time-out, whatever arrives.
    const bool quiet = limits_.quiet.count() > 0;
    const milliseconds bound = quiet ? limits_.quiet : limits_.statement + kBeyondStatementTimeout;
    auto deadline = Clock::now() + bound;
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
            return giveUp(
                (quiet ? "nothing from the server for " : "no answer within ") + Seconds(bound),
                false);
        }
        const int ready = RESULTS_WaitSocket(PQsocket(conn_), flushed == 1, kStopLook);
        if (ready < 0) {
            broken_ = true;
            return {false, nullptr, "", "the connection's socket failed", false};
        }
        if (ready > 0 && quiet) deadline = Clock::now() + bound;
    }
}

bool PgSession::AwaitNotifications(milliseconds bound, std::vector<std::string>* payloads) {
    if (!Usable()) return false;
    const auto deadline = Clock::now() + bound;
    for (;;) {
        if (PQconsumeInput(conn_) == 0 || PQstatus(conn_) != CONNECTION_OK) {
            broken_ = true;
            return false;
        }
        bool came = false;
        while (PGnotify* note = PQnotifies(conn_)) {
            payloads->emplace_back(note->extra != nullptr ? note->extra : "");
            PQfreemem(note);
            came = true;
        }
        if (came) return true;
        if (StopAsked(stop_)) return false;
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return true;
        const int ready = RESULTS_WaitSocket(PQsocket(conn_), false, std::min(left, kStopLook));
        if (ready < 0) {
            broken_ = true;
            return false;
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
