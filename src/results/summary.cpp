#include "results/summary.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>
#include <tuple>

namespace {

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::string Format(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string Csv(const std::string& field) {
    if (field.find_first_of(",\"\r\n") == std::string::npos) return field;
    std::string quoted = "\"";
    for (char c : field) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

}  // namespace

double RESULTS_Yield(int jobs, int failures) {
    return jobs > 0 ? 100.0 * (jobs - failures) / jobs : 0;
}

ResultsSummary RESULTS_Summarise(const std::vector<JobRecord>& records) {
    ResultsSummary s;
    std::map<std::pair<std::string, std::string>, ResultsSummary::DayStation> days;
    std::map<std::pair<std::string, std::string>, int> causes;
    std::map<std::tuple<std::string, int, std::string>, ResultsSummary::Socket> sockets;
    std::map<std::int64_t, ResultsSummary::Hour> hours;
    std::vector<double> seconds, rates;
    for (const JobRecord& r : records) {
        const bool failed = r.result != kResultDone;
        ++s.jobs;
        s.failures += failed ? 1 : 0;
        auto& day = days[{r.startedAt.substr(0, 10), r.station}];
        day.day = r.startedAt.substr(0, 10);
        day.station = r.station;
        ++day.jobs;
        day.failures += failed ? 1 : 0;
        auto& socket = sockets[{r.station, r.channel, r.device}];
        socket.station = r.station;
        socket.channel = r.channel;
        socket.device = r.device;
        ++socket.jobs;
        socket.failures += failed ? 1 : 0;
        if (failed) ++causes[{r.failStep, r.failReason.empty() ? r.lastText : r.failReason}];
        std::int64_t start = 0, end = 0;
        if (RESULTS_ParseUtc(r.startedAt, &start)) {
            auto& hour = hours[start / 3600000];
            ++hour.jobs;
            hour.failures += failed ? 1 : 0;
            if (!failed && RESULTS_ParseUtc(r.endedAt, &end) && end > start) {
                const double secs = static_cast<double>(end - start) / 1000.0;
                seconds.push_back(secs);
                rates.push_back(static_cast<double>(r.bytesSent) / secs);
            }
        }
    }
    for (auto& [key, d] : days) s.days.push_back(d);
    for (auto& [key, count] : causes) s.causes.push_back({key.first, key.second, count});
    std::stable_sort(s.causes.begin(), s.causes.end(),
                     [](const auto& a, const auto& b) { return a.count > b.count; });
    for (auto& [key, socket] : sockets) s.sockets.push_back(socket);
    s.hours = RESULTS_EveryHour({hours.begin(), hours.end()});
    s.medianSeconds = Median(seconds);
    s.medianBytesPerSecond = Median(rates);
    return s;
}

std::vector<ResultsSummary::Hour> RESULTS_EveryHour(
    const std::vector<std::pair<std::int64_t, ResultsSummary::Hour>>& counted) {
    std::vector<ResultsSummary::Hour> hours;
    if (counted.empty()) return hours;
    // Every hour in between too, so that a plot shows the idle hours as idle.
    std::size_t next = 0;
    for (std::int64_t h = counted.front().first; h <= counted.back().first; ++h) {
        ResultsSummary::Hour hour;
        if (next < counted.size() && counted[next].first == h) hour = counted[next++].second;
        hour.hour = RESULTS_FormatUtc(h * 3600000).substr(0, 13) + ":00Z";
        hours.push_back(hour);
    }
    return hours;
}

bool ResultsStore::Summarise(const ResultsFilter& filter, ResultsSummary* summary,
                             std::string* error) {
    std::vector<JobRecord> records;
    if (!Load(filter, &records, error)) return false;
    *summary = RESULTS_Summarise(records);
    return true;
}

std::string RESULTS_SummaryText(const ResultsSummary& s) {
    if (s.jobs == 0) return "No jobs on record.\n";
    std::string out = "Jobs " + std::to_string(s.jobs) + ", failed " + std::to_string(s.failures) +
                      ", yield " + Format("%.1f%%", RESULTS_Yield(s.jobs, s.failures)) + "\n";
    out += "Median job " + Format("%.1f s", s.medianSeconds) + ", median throughput " +
           Format("%.1f KiB/s", s.medianBytesPerSecond / 1024) + " (jobs that finished)\n";
    if (!s.suspects.empty()) {
        out += "\nSuspect sockets (failing markedly more than their station's others):\n";
        for (const StationSuspects& station : s.suspects) {
            for (const SuspectEvidence& e : station.sockets) {
                out += "  " + station.station + " " + RESULTS_DescribeSuspect(e) + "\n";
            }
        }
    }
    out += "\nPer day and station:\n";
    char line[512];
    std::snprintf(line, sizeof line, "  %-10s  %-20s %6s %6s %7s\n", "day", "station", "jobs",
                  "failed", "yield");
    out += line;
    for (const auto& d : s.days) {
        std::snprintf(line, sizeof line, "  %-10s  %-20s %6d %6d %6.1f%%\n", d.day.c_str(),
                      d.station.c_str(), d.jobs, d.failures, RESULTS_Yield(d.jobs, d.failures));
        out += line;
    }
    out += "\nFailures by step and reason:\n";
    if (s.causes.empty()) out += "  none\n";
    for (const auto& c : s.causes) {
        std::snprintf(line, sizeof line, "  %6d  %-12s %s\n", c.count,
                      c.step.empty() ? "-" : c.step.c_str(), c.reason.c_str());
        out += line;
    }
    out += "\nPer socket:\n";
    std::snprintf(line, sizeof line, "  %-20s %2s  %-40s %6s %6s %7s\n", "station", "ch", "device",
                  "jobs", "failed", "yield");
    out += line;
    for (const auto& k : s.sockets) {
        std::snprintf(line, sizeof line, "  %-20s %2d  %-40s %6d %6d %6.1f%%\n", k.station.c_str(),
                      k.channel, k.device.c_str(), k.jobs, k.failures,
                      RESULTS_Yield(k.jobs, k.failures));
        out += line;
    }
    if (!s.refused.empty()) {
        out += "\nRefused by the results server, kept on this station only: " +
               std::to_string(s.refused.size()) + "\n";
        for (const RefusedJob& j : s.refused) {
            std::snprintf(line, sizeof line, "  %-24s  %-20s ch %d  %s  %s\n",
                          j.record.endedAt.c_str(), j.record.station.c_str(), j.record.channel,
                          j.record.jobId.c_str(), j.reason.c_str());
            out += line;
        }
    }
    return out;
}

std::string RESULTS_SummaryJson(const ResultsSummary& s) {
    nlohmann::json j;
    j["jobs"] = s.jobs;
    j["failures"] = s.failures;
    j["yield"] = RESULTS_Yield(s.jobs, s.failures);
    j["median_seconds"] = s.medianSeconds;
    j["median_bytes_per_second"] = s.medianBytesPerSecond;
    j["days"] = nlohmann::json::array();
    for (const auto& d : s.days) {
        j["days"].push_back({{"day", d.day},
                             {"station", d.station},
                             {"jobs", d.jobs},
                             {"failures", d.failures},
                             {"yield", RESULTS_Yield(d.jobs, d.failures)}});
    }
    j["failures_by_cause"] = nlohmann::json::array();
    for (const auto& c : s.causes) {
        j["failures_by_cause"].push_back(
            {{"step", c.step}, {"reason", c.reason}, {"count", c.count}});
    }
    j["sockets"] = nlohmann::json::array();
    for (const auto& k : s.sockets) {
        j["sockets"].push_back({{"station", k.station},
                                {"channel", k.channel},
                                {"device", k.device},
                                {"jobs", k.jobs},
                                {"failures", k.failures},
                                {"yield", RESULTS_Yield(k.jobs, k.failures)}});
    }
    j["hours"] = nlohmann::json::array();
    for (const auto& h : s.hours) {
        j["hours"].push_back({{"hour", h.hour}, {"jobs", h.jobs}, {"failures", h.failures}});
    }
    j["refused_by_server"] = nlohmann::json::array();
    for (const RefusedJob& r : s.refused) {
        j["refused_by_server"].push_back({{"job_id", r.record.jobId},
                                          {"station", r.record.station},
                                          {"channel", r.record.channel},
                                          {"ended_at", r.record.endedAt},
                                          {"reason", r.reason}});
    }
    j["suspect_sockets"] = nlohmann::json::array();
    for (const StationSuspects& station : s.suspects) {
        for (const SuspectEvidence& e : station.sockets) {
            nlohmann::json reasons = nlohmann::json::object();
            for (const auto& [reason, count] : e.reasons) reasons[reason] = count;
            j["suspect_sockets"].push_back({{"station", station.station},
                                            {"channel", e.channel},
                                            {"device", e.device},
                                            {"since", RESULTS_FormatUtc(e.sinceMs)},
                                            {"jobs", e.jobs},
                                            {"failures", e.failures},
                                            {"failures_by_reason", reasons},
                                            {"others_jobs", e.othersJobs},
                                            {"others_failures", e.othersFailures}});
        }
    }
    return j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

std::string RESULTS_RecordsCsv(const std::vector<JobRecord>& records) {
    std::string out =
        "job_id,station,channel,port,device,started_at,ended_at,images,boot,erase,format,"
        "resource_address,bytes_sent,result,last_text,fail_step,fail_reason,version\r\n";
    for (const JobRecord& r : records) {
        std::string images;
        for (const RecordedImage& i : r.images) {
            if (!images.empty()) images += ' ';
            images += i.name + ":" + std::to_string(i.size) + ":" + i.sha256;
        }
        const std::vector<std::string> fields = {r.jobId,
                                                 r.station,
                                                 std::to_string(r.channel),
                                                 r.port,
                                                 r.device,
                                                 r.startedAt,
                                                 r.endedAt,
                                                 images,
                                                 r.boot ? "1" : "0",
                                                 r.erase,
                                                 r.format ? "1" : "0",
                                                 r.resourceAddress,
                                                 std::to_string(r.bytesSent),
                                                 r.result,
                                                 r.lastText,
                                                 r.failStep,
                                                 r.failReason,
                                                 r.version};
        for (std::size_t i = 0; i < fields.size(); ++i) {
            if (i > 0) out += ',';
            out += Csv(fields[i]);
        }
        out += "\r\n";
    }
    return out;
}
