#pragma once
// What a line's server's refusal of a row means for the row. Only the row's own data (SQLSTATE
// classes 22, data exception, and 23, integrity constraint violation) makes it a row the server
// will never take; everything else (a lost connection, a read-only standby after a failover, a
// full disk, a lock or statement time-out, an administrator's shutdown, a serialisation
// failure) passes, and the row is sent again later.
#include <string>

enum class SendVerdict {
    Sent,        // the server has the row (also when it had it already)
    RowRefused,  // the server refuses this row for good: it stays on the station, marked so
    TryLater,    // not now: the row waits and is sent again after a pause
};

// The verdict on a failed statement from its SQLSTATE (five characters; empty when the
// connection failed before the server could answer).
SendVerdict RESULTS_VerdictOfFailure(const std::string& sqlstate);
