#include "results/line_view.h"

#include <cmath>
#include <ctime>
#include <nlohmann/json.hpp>

#include "results/job_record.h"

namespace {

double OneDecimal(double value) {
    return std::round(value * 10) / 10;
}

nlohmann::ordered_json TextOrNull(const std::string& text) {
    return text.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(text);
}

}  // namespace

std::string RESULTS_LineJson(const LineView& view, const std::string& staleReason) {
    // In the order a reader looks: the suspects first.
    using json = nlohmann::ordered_json;
    json suspects = json::array();
    for (const LineSuspect& s : view.suspects) {
        suspects.push_back({{"station", s.station},
                            {"channel", s.channel},
                            {"device", s.device},
                            {"text", s.text}});
    }
    json stations = json::array();
    for (const LineStation& st : view.stations) {
        json sockets = json::array();
        for (const LineSocket& k : st.sockets) {
            sockets.push_back({{"channel", k.channel},
                               {"device", k.device},
                               {"state", k.state},
                               {"progress", k.progress},
                               {"text", k.text},
                               {"fail_step", k.failStep},
                               {"fail_reason", k.failReason},
                               {"suspect", k.suspect},
                               {"job_started_at", TextOrNull(k.jobStartedAt)},
                               {"updated", k.updated}});
        }
        json failures = json::array();
        for (const LineFailure& f : st.today.failures) {
            failures.push_back({{"step", f.step}, {"reason", f.reason}, {"count", f.count}});
        }
        stations.push_back({{"station", st.station},
                            {"updated", TextOrNull(st.updated)},
                            {"sockets", std::move(sockets)},
                            {"today",
                             {{"jobs", st.today.jobs},
                              {"done", st.today.done},
                              {"failed", st.today.failed},
                              {"yield", OneDecimal(st.today.yield)},
                              {"per_hour", OneDecimal(st.today.perHour)},
                              {"failures", std::move(failures)}}}});
    }
    json out = {{"generated", RESULTS_FormatUtc(view.generatedMs)},
                {"day_start", RESULTS_FormatUtc(view.dayStartMs)},
                {"suspects", std::move(suspects)},
                {"stations", std::move(stations)},
                {"stale", !staleReason.empty()},
                {"error", staleReason}};
    // Text from the server that is not UTF-8 is shown with replacement characters, not refused.
    return out.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::int64_t RESULTS_LocalMidnight(std::int64_t nowMs) {
    const std::time_t now = static_cast<std::time_t>(nowMs / 1000);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    local.tm_hour = 0;
    local.tm_min = 0;
    local.tm_sec = 0;
    local.tm_isdst = -1;  // whichever holds at midnight
    const std::time_t midnight = std::mktime(&local);
    if (midnight == static_cast<std::time_t>(-1)) return nowMs - nowMs % 86400000;
    return static_cast<std::int64_t>(midnight) * 1000;
}

double RESULTS_PerHour(int done, std::int64_t firstStartMs, std::int64_t lastEndMs) {
    const std::int64_t span = lastEndMs - firstStartMs;
    if (span < 60000) return 0;
    return done * 3600000.0 / static_cast<double>(span);
}
