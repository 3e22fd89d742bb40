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

bool RESULTS_IsServerUrl(const std::string& text) {
    return text.rfind("postgresql://", 0) == 0 || text.rfind("postgres://", 0) == 0;
}

std::string RESULTS_HidePassword(const std::string& url) {
    const std::size_t scheme = url.find("://");
    if (scheme == std::string::npos) return url;
    const std::size_t at = url.find('@', scheme + 3);
    const std::size_t slash = url.find('/', scheme + 3);
    if (at == std::string::npos || (slash != std::string::npos && slash < at)) return url;
    const std::size_t colon = url.find(':', scheme + 3);
    if (colon == std::string::npos || colon > at) return url;
    return url.substr(0, colon + 1) + "***" + url.substr(at);
}

bool MemoryResultsStore::Add(const JobRecord& record, std::string* /*error*/) {
    const bool known = std::any_of(rows_.begin(), rows_.end(), [&record](const Row& r) {
        return r.record.jobId == record.jobId;
    });
    if (!known) rows_.push_back({record, false});
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

bool MemoryResultsStore::Pending(int limit, std::vector<JobRecord>* records,
                                 std::string* /*error*/) {
    records->clear();
    for (const Row& r : rows_) {
        if (static_cast<int>(records->size()) >= limit) break;
        if (!r.uploaded) records->push_back(r.record);
    }
    return true;
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
