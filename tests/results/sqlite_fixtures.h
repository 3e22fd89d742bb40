#pragma once
// The station's results file as the SQLite tests open and fill it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "results/recorder.h"
#include "results/sqlite_store.h"

namespace results_test {

// Every row of the file at path, read through a connection of its own.
inline std::vector<JobRecord> LoadAll(const std::string& path) {
    std::string error;
    auto store = SqliteResultsStore::Open(path, &error);
    EXPECT_TRUE(store) << error;
    std::vector<JobRecord> rows;
    if (store) {
        EXPECT_TRUE(store->Load({}, &rows, &error)) << error;
    }
    return rows;
}

// Recording into path only, as station "bench-3".
inline ResultsConfig LocalOnly(const std::string& path) {
    ResultsConfig c;
    c.databasePath = path;
    c.station = "bench-3";
    return c;
}

// Makes the file at path refuse new rows (insert) or the marks of rows sent and refused
// (update), as a full disk does; rows already in it stay readable. what: "INSERT" or "UPDATE".
inline void BreakWrites(const std::string& path, const std::string& what) {
    std::string error;
    auto store = SqliteResultsStore::Open(path, &error);
    ASSERT_TRUE(store) << error;
    ASSERT_TRUE(store->Exec("CREATE TRIGGER no_" + what + " BEFORE " + what +
                                " ON jobs BEGIN SELECT RAISE(FAIL, 'database or disk is full'); "
                                "END",
                            &error))
        << error;
}
// The file takes what BreakWrites made it refuse again.
inline void MendWrites(const std::string& path, const std::string& what) {
    std::string error;
    auto store = SqliteResultsStore::Open(path, &error);
    ASSERT_TRUE(store) << error;
    ASSERT_TRUE(store->Exec("DROP TRIGGER no_" + what, &error)) << error;
}

// Adds count finished jobs of station that wait for the server, in one statement (a backlog
// left by a long outage). Their job ids are new UUIDs.
inline void AddBacklog(const std::string& path, const std::string& station, int count) {
    std::string error;
    auto store = SqliteResultsStore::Open(path, &error);
    ASSERT_TRUE(store) << error;
    const std::string prefix = RESULTS_NewJobId().substr(0, 24);
    ASSERT_TRUE(store->Exec(
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
            std::to_string(count) +
            ") INSERT INTO jobs (job_id, station, channel, port, device, started_at, ended_at, "
            "images, boot, erase, format, resource_address, bytes_sent, result, last_text, "
            "version) SELECT '" +
            prefix + "' || printf('%012x', i), '" + station +
            "', i % 8, '/dev/ttyUSB0', '/dev/ttyUSB0', '2026-12-07T10:00:00.000Z', "
            "'2026-12-07T10:00:40.000Z', '[]', 0, 'none', 1, '0', 4194604, 'done', "
            "'Download Complete! [40 sec]', '1.3.0' FROM n",
        &error))
        << error;
}

}  // namespace results_test
