#pragma once
// What a line's engineers ask of the records: jobs, failures and yield per day and station,
// failures by step and reason, each socket's record, how fast jobs run; and jobs per hour for
// a plot. Text for people, JSON for programs, CSV for spreadsheets.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "results/job_record.h"
#include "results/results_store.h"
#include "results/suspect_sockets.h"

struct ResultsSummary {
    struct DayStation {
        std::string day;  // YYYY-MM-DD (UTC)
        std::string station;
        int jobs = 0;
        int failures = 0;
    };
    struct Cause {
        std::string step;    // empty when not recorded
        std::string reason;  // the recorded reason, else the bar's last text
        int count = 0;
    };
    struct Socket {
        std::string station;
        int channel = 0;
        std::string device;
        int jobs = 0;
        int failures = 0;
    };
    struct Hour {
        std::string hour;  // YYYY-MM-DDTHH:00Z
        int jobs = 0;
        int failures = 0;
    };
    int jobs = 0;
    int failures = 0;
    std::vector<DayStation> days;  // by day, then station
    std::vector<Cause> causes;     // most frequent first
    std::vector<Socket> sockets;   // by station, then channel
    std::vector<Hour> hours;       // every hour from the first job's to the last's
    double medianSeconds = 0;      // of the jobs that finished
    double medianBytesPerSecond = 0;
    // Rows the server refused for good, kept on this station only (a station's own file).
    std::vector<RefusedJob> refused;
    // Sockets failing markedly more than their station's others at the end of the records
    // (suspect_sockets.h); filled by the caller that has the rows.
    std::vector<StationSuspects> suspects;
};

// Yield in percent: jobs that finished out of all; 0 for no jobs.
double RESULTS_Yield(int jobs, int failures);
ResultsSummary RESULTS_Summarise(const std::vector<JobRecord>& records);
// Every hour from the first counted one to the last, the hours between them with no jobs;
// counted: (hours since 1970, jobs and failures), in order.
std::vector<ResultsSummary::Hour> RESULTS_EveryHour(
    const std::vector<std::pair<std::int64_t, ResultsSummary::Hour>>& counted);
std::string RESULTS_SummaryText(const ResultsSummary& summary);
std::string RESULTS_SummaryJson(const ResultsSummary& summary);
// One line per job with a header line; fields quoted where they need it.
std::string RESULTS_RecordsCsv(const std::vector<JobRecord>& records);
