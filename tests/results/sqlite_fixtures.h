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

}  // namespace results_test
