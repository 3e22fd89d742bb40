#include <algorithm>

#include "results/results_store.h"

bool RESULTS_Passes(const ResultsFilter& filter, const JobRecord& record) {
    if (!filter.station.empty() && record.station != filter.station) return false;
    if (!filter.since.empty()) {
        std::int64_t since = 0, started = 0;
        if (RESULTS_ParseUtc(filter.since, &since) &&
            RESULTS_ParseUtc(record.startedAt, &started)) {
            return started >= since;
        }
        return record.startedAt >= filter.since;
    }
    return true;
}

bool MemoryResultsStore::Add(const JobRecord& record, std::string* /*error*/) {
    const bool known = std::any_of(rows_.begin(), rows_.end(), [&record](const Row& r) {
        return r.record.jobId == record.jobId;
    });
    if (!known) rows_.push_back({record, false, {}});
    return true;
}

bool MemoryResultsStore::Load(const ResultsFilter& filter, std::vector<JobRecord>* records,
                              std::string* /*error*/) {
    records->clear();
    for (const Row& r : rows_) {
        if (RESULTS_Passes(filter, r.record)) records->push_back(r.record);
    }
    return true;
}

bool MemoryResultsStore::PendingExcept(int limit,
                                       const std::function<bool(const std::string&)>& skip,
                                       std::vector<JobRecord>* records, std::string* /*error*/) {
    records->clear();
    for (const Row& r : rows_) {
        if (static_cast<int>(records->size()) >= limit) break;
        if (!r.uploaded && !(skip && skip(r.record.jobId))) records->push_back(r.record);
    }
    return true;
}

bool MemoryResultsStore::CountPending(int* count, std::string* /*error*/) {
    *count = Unsent();
    return true;
}

int MemoryResultsStore::Unsent() const {
    return static_cast<int>(
        std::count_if(rows_.begin(), rows_.end(), [](const Row& r) { return !r.uploaded; }));
}

void MemoryResultsStore::Remove(const std::string& jobId) {
    rows_.erase(std::remove_if(rows_.begin(), rows_.end(),
                               [&jobId](const Row& r) { return r.record.jobId == jobId; }),
                rows_.end());
}

bool MemoryResultsStore::MarkUploaded(const std::vector<std::string>& jobIds,
                                      std::string* /*error*/) {
    for (Row& r : rows_) {
        if (std::find(jobIds.begin(), jobIds.end(), r.record.jobId) != jobIds.end()) {
            r.uploaded = true;
        }
    }
    return true;
}

bool MemoryResultsStore::MarkRefused(const std::string& jobId, const std::string& reason,
                                     std::string* /*error*/) {
    for (Row& r : rows_) {
        if (r.record.jobId == jobId) {
            r.uploaded = true;
            r.refusal = reason;
        }
    }
    return true;
}

bool MemoryResultsStore::Refused(std::vector<RefusedJob>* rows, std::string* /*error*/) {
    rows->clear();
    for (const Row& r : rows_) {
        if (!r.refusal.empty()) rows->push_back({r.record, r.refusal});
    }
    return true;
}
