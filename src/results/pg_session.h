#pragma once
// One session with a line's server through libpq in which no wait is unbounded: the login ends
// within its time-out (its handshake runs on a thread of its own, which is left behind when the
// client library holds it in a host name lookup), each statement within the server's
// statement_timeout and lock_timeout (set for every session) or a client-side bound (a little
// beyond them, or, for a session that reads, a time without a byte from the server), and a
// statement still running when its owner asks to stop is cancelled on the server and given up
// at once. TCP keepalives and tcp_user_timeout make a connection that went silent fail instead
// of hang.
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "results/results_store.h"

struct pg_conn;
struct pg_result;

struct PgResultFree {
    void operator()(pg_result* result) const;
};
using PgResult = std::unique_ptr<pg_result, PgResultFree>;

// How a statement ended.
struct PgReply {
    bool ok = false;
    PgResult rows;         // the last result (rows of a query); null when none came
    std::string sqlstate;  // of a failure; empty when the server did not answer
    std::string message;   // of a failure: one line, the target's secrets masked
    bool stopped = false;  // given up because the owner asked to stop
};

class PgSession {
public:
    // Connects to target. stop (may be null) is looked at every few milliseconds during every
    // wait. Null with *error set (one line, the target masked) when no session could be had.
    static std::unique_ptr<PgSession> Connect(const std::string& target, const ServerLimits& limits,
                                              const std::atomic<bool>* stop, std::string* error);
    ~PgSession();
    PgSession(const PgSession&) = delete;
    PgSession& operator=(const PgSession&) = delete;

    // One statement with text parameters ($1, $2, ...).
    PgReply Exec(const std::string& sql, const std::vector<const char*>& params = {});
    // Several statements in one text, without parameters.
    PgReply ExecScript(const std::string& sql);
    // Waits up to bound for notifications on the channels this session has LISTENed to
    // (including those that came during an earlier statement); their payloads are added to
    // *payloads. False when the connection is lost or the owner asked to stop.
    bool AwaitNotifications(std::chrono::milliseconds bound, std::vector<std::string>* payloads);
    // False once the connection is lost or a statement was given up; the session is then to be
    // made again.
    bool Usable() const;
    const std::string& Target() const { return target_; }

private:
    PgSession(pg_conn* conn, std::string target, const ServerLimits& limits,
              const std::atomic<bool>* stop);
    PgReply Await();
    // Has the server cancel the statement in flight, without waiting for it to answer.
    void CancelInBackground();
    std::string Masked(const std::string& message) const;

    pg_conn* conn_;
    std::string target_;
    ServerLimits limits_;
    const std::atomic<bool>* stop_;
    bool broken_ = false;
};
