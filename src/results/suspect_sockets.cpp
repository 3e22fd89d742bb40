#include "results/suspect_sockets.h"

#include <algorithm>

#include "config/ini_file.h"
#include "config/settings.h"
#include "link/outcome.h"

namespace {

// Weights in percent of a failure, so that the rule stays in whole numbers.
constexpr int kFull = 100;
// Jobs remembered per station: far more than the periods judged span at eight sockets.
constexpr std::size_t kRemembered = 4096;

int Setting(const std::string& path, const char* key, int fallback, int lowest, int highest) {
    const int value = INI_GetInt(path, kSettingsSection, key, fallback);
    return value >= lowest && value <= highest ? value : fallback;
}

int Weight(SocketVerdict verdict, const SuspectRule& rule) {
    switch (verdict) {
        case SocketVerdict::Link:
            return kFull;
        case SocketVerdict::Handset:
            return rule.refusalWeight;
        default:
            return 0;
    }
}

void CountReason(std::vector<std::pair<std::string, int>>& reasons, const std::string& reason) {
    const std::string key = reason.empty() ? "not recorded" : reason;
    for (auto& [name, count] : reasons) {
        if (name == key) {
            ++count;
            return;
        }
    }
    reasons.emplace_back(key, 1);
}

std::string Reasons(const SuspectEvidence& e) {
    std::string text;
    for (const auto& [name, count] : e.reasons) {
        if (!text.empty()) text += ", ";
        text += name + " " + std::to_string(count);
    }
    return text;
}

}  // namespace

SuspectRule RESULTS_SuspectRule(const std::string& path) {
    SuspectRule rule;
    rule.window = Setting(path, kSuspectWindowKey, rule.window, 1, 100);
    rule.failures = Setting(path, kSuspectFailuresKey, rule.failures, 1, rule.window);
    rule.minJobs = Setting(path, kSuspectMinJobsKey, rule.minJobs, 1, 1000);
    rule.othersYield = Setting(path, kSuspectOthersYieldKey, rule.othersYield, 0, 100);
    rule.refusalWeight = Setting(path, kSuspectRefusalWeightKey, rule.refusalWeight, 0, 100);
    rule.clearAfter = Setting(path, kSuspectClearAfterKey, rule.clearAfter, 1, 100);
    return rule;
}

SocketVerdict RESULTS_SocketVerdict(bool ok, const std::string& step, const std::string& reason) {
    if (ok) return SocketVerdict::Good;
    // The operator's stop, the window closed, a second interrupt: says nothing of the socket.
    if (step == "stopped" || reason == "stopped") return SocketVerdict::NotCounted;
    // An image file or the station's own resources fail every socket alike.
    if (step == "start" || reason == "file" || reason == "system") return SocketVerdict::NotCounted;
    // The handset said no: to an image, a close, or with a version of its own.
    if (reason == "refused" || step == "version") return SocketVerdict::Handset;
    return SocketVerdict::Link;
}

SocketJob RESULTS_EndedSocketJob(int channel, bool ok, std::chrono::system_clock::time_point start,
                                 std::chrono::system_clock::time_point end) {
    const auto ms = [](std::chrono::system_clock::time_point t) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
    };
    SocketJob job;
    job.channel = channel;
    job.startMs = ms(start);
    job.endMs = ms(end);
    job.ok = ok;
    const JobOutcome failure = OUTCOME_Get(channel);
    if (!ok && failure.Failed()) {
        job.step = OUTCOME_StepName(failure.step);
        // As the record names it: a port that would not open by the system's reason.
        job.reason = failure.step == JobStep::Open && !failure.detail.empty()
                         ? failure.detail
                         : OUTCOME_ReasonName(failure.reason);
    }
    return job;
}

SocketWatch::SocketWatch(SuspectRule rule) : rule_(rule) {}

std::vector<const SocketWatch::Entry*> SocketWatch::Window(int channel) const {
    std::vector<const Entry*> window;
    const auto found = sockets_.find(channel);
    if (found == sockets_.end() || entries_.empty()) return window;
    const std::int64_t oldest = entries_.front().seq;
    for (const std::int64_t seq : found->second.recent) {
        if (seq >= oldest) window.push_back(&entries_[static_cast<std::size_t>(seq - oldest)]);
    }
    return window;
}

bool SocketWatch::Judge(int channel, SuspectEvidence* evidence) const {
    std::vector<const Entry*> window = Window(channel);
    const bool enough = static_cast<int>(window.size()) >= rule_.minJobs;
    if (static_cast<int>(window.size()) > rule_.window) {
        window.erase(window.begin(), window.end() - rule_.window);
    }
    SuspectEvidence e;
    e.channel = channel;
    int points = 0;
    for (const Entry* entry : window) {
        points += Weight(entry->verdict, rule_);
        if (entry->verdict == SocketVerdict::Good) continue;
        ++e.failures;
        CountReason(e.reasons, entry->job.reason);
    }
    e.jobs = static_cast<int>(window.size());
    // The same period: from the start of the oldest job judged.
    int othersPoints = 0;
    const std::int64_t periodStart = window.empty() ? 0 : window.front()->job.startMs;
    // The jobs are kept in the order they ended: back from the newest to the period's start.
    for (auto it = entries_.rbegin(); !window.empty() && it != entries_.rend(); ++it) {
        const Entry& entry = *it;
        if (entry.job.endMs < periodStart) break;
        if (entry.job.channel == channel) continue;
        ++e.othersJobs;
        e.othersFailures += entry.verdict != SocketVerdict::Good;
        othersPoints += Weight(entry.verdict, rule_);
    }
    const bool suspect = enough && points >= rule_.failures * kFull &&
                         e.othersJobs >= rule_.minJobs &&
                         othersPoints <= (100 - rule_.othersYield) * e.othersJobs;
    if (evidence != nullptr) *evidence = std::move(e);
    return suspect;
}

bool SocketWatch::Add(const SocketJob& job) {
    const SocketVerdict verdict = RESULTS_SocketVerdict(job.ok, job.step, job.reason);
    if (verdict == SocketVerdict::NotCounted) return false;
    entries_.push_back(Entry{nextSeq_++, job, verdict});
    if (entries_.size() > kRemembered) entries_.pop_front();
    bool changed = false;
    Socket& socket = sockets_[job.channel];
    socket.recent.push_back(entries_.back().seq);
    if (static_cast<int>(socket.recent.size()) > std::max(rule_.window, rule_.minJobs)) {
        socket.recent.pop_front();
    }
    if (socket.suspect) {
        socket.goodRun = verdict == SocketVerdict::Good ? socket.goodRun + 1 : 0;
        if (socket.goodRun >= rule_.clearAfter) {
            socket = Socket{};
            changed = true;
        }
    }
    // Another socket's job changes the others' record of every socket: each is judged again.
    for (auto& [channel, s] : sockets_) {
        if (s.suspect) continue;
        if (!Judge(channel, nullptr)) continue;
        // The good jobs it ended its window with already count towards the run that clears it.
        int goodRun = 0;
        for (const Entry* entry : Window(channel)) {
            goodRun = entry->verdict == SocketVerdict::Good ? goodRun + 1 : 0;
        }
        if (goodRun >= rule_.clearAfter) continue;
        s.suspect = true;
        s.sinceMs = job.endMs;
        Judge(channel, &s.flagged);
        s.goodRun = goodRun;
        changed = true;
    }
    return changed;
}

bool SocketWatch::Acknowledge(int channel) {
    const auto found = sockets_.find(channel);
    if (found == sockets_.end() || !found->second.suspect) return false;
    found->second = Socket{};
    return true;
}

bool SocketWatch::Suspect(int channel) const {
    const auto found = sockets_.find(channel);
    return found != sockets_.end() && found->second.suspect;
}

bool SocketWatch::Evidence(int channel, SuspectEvidence* evidence) const {
    if (!Suspect(channel)) return false;
    const Socket& socket = sockets_.at(channel);
    SuspectEvidence e;
    Judge(channel, &e);
    if (e.jobs == 0) e = socket.flagged;
    e.sinceMs = socket.sinceMs;
    if (evidence != nullptr) *evidence = std::move(e);
    return true;
}

std::vector<SuspectEvidence> SocketWatch::Suspects() const {
    std::vector<SuspectEvidence> all;
    for (const auto& [channel, s] : sockets_) {
        SuspectEvidence e;
        if (Evidence(channel, &e)) all.push_back(std::move(e));
    }
    return all;
}

std::vector<StationSuspects> RESULTS_SuspectSockets(const std::vector<JobRecord>& records,
                                                    const SuspectRule& rule) {
    std::map<std::string, std::vector<const JobRecord*>> byStation;
    for (const JobRecord& r : records) byStation[r.station].push_back(&r);
    std::vector<StationSuspects> found;
    for (auto& [station, jobs] : byStation) {
        std::stable_sort(jobs.begin(), jobs.end(), [](const JobRecord* a, const JobRecord* b) {
            return a->endedAt < b->endedAt;
        });
        SocketWatch watch(rule);
        std::map<int, std::string> devices;
        for (const JobRecord* r : jobs) {
            SocketJob job;
            job.channel = r->channel;
            if (!RESULTS_ParseUtc(r->startedAt, &job.startMs)) job.startMs = 0;
            if (!RESULTS_ParseUtc(r->endedAt, &job.endMs)) job.endMs = job.startMs;
            job.ok = r->result == kResultDone;
            job.step = r->failStep;
            job.reason = r->failReason;
            watch.Add(job);
            devices[r->channel] = r->device.empty() ? r->port : r->device;
        }
        StationSuspects s;
        s.station = station;
        s.sockets = watch.Suspects();
        for (SuspectEvidence& e : s.sockets) e.device = devices[e.channel];
        if (!s.sockets.empty()) found.push_back(std::move(s));
    }
    return found;
}

std::string RESULTS_DescribeSuspect(const SuspectEvidence& e) {
    std::string text = "ch" + std::to_string(e.channel);
    if (!e.device.empty()) text += " " + e.device;
    text += ": " + std::to_string(e.failures) + " of its last " + std::to_string(e.jobs) +
            " jobs failed";
    if (!e.reasons.empty()) text += " (" + Reasons(e) + ")";
    text += "; the other sockets: " + std::to_string(e.othersFailures) + " of " +
            std::to_string(e.othersJobs) + " failed in the same period";
    if (e.sinceMs > 0) text += "; suspect since " + RESULTS_FormatUtc(e.sinceMs);
    return text;
}

std::string RESULTS_SuspectBadge(const SuspectEvidence& e) {
    std::string text =
        "SUSPECT: " + std::to_string(e.failures) + " of " + std::to_string(e.jobs) + " failed";
    if (!e.reasons.empty()) text += " (" + Reasons(e) + ")";
    return text;
}
