#include "simulation.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <vector>

#include "config/settings.h"
#include "jobs/download_plan.h"
#include "jobs/file_download.h"
#include "jobs/runner.h"
#include "jobs/station.h"
#include "jobs/status.h"
#include "link/commands.h"
#include "link/flash_downloader.h"
#include "link/image_table.h"
#include "link/link_observer.h"
#include "sim/sim_agent.h"
#include "sim/sim_expected.h"
#include "sim/sim_names.h"
#include "sim_line.h"
#include "transport/serial_port.h"
#include "transport/virtual_clock.h"

namespace linksim {

namespace {

constexpr std::int64_t kSecond = 1000000;
constexpr const char* kCodeName = "WZRTAll";

std::uint8_t Code(int index) {
    return kCommandCodes[index];
}

bool StartsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

std::string Name(int code) {
    if (code < 0) return "BAD_CRC";
    const char* name = SIM_CommandName(static_cast<std::uint8_t>(code));
    return name != nullptr ? name : "?";
}

const char* ReplyName(SimReply reply) {
    switch (reply) {
        case SimReply::Ack:
            return "ack";
        case SimReply::NakResend:
            return "send again";
        case SimReply::NakRefused:
            return "refused";
        case SimReply::CorruptCrc:
            return "spoilt CRC";
        case SimReply::Dropped:
            return "no reply (dropped)";
        case SimReply::Silent:
            return "no reply (silent)";
        case SimReply::Unplugged:
            return "unplugged";
        case SimReply::WrongSeq:
            return "wrong sequence number";
    }
    return "?";
}

const char* AnswerName(FrameAnswer answer) {
    switch (answer) {
        case FrameAnswer::None:
            return "none";
        case FrameAnswer::Ack:
            return "ack";
        case FrameAnswer::Resend:
            return "send again";
        case FrameAnswer::Refused:
            return "refused";
        case FrameAnswer::Bad:
            return "bad";
        case FrameAnswer::Unsent:
            return "unsent";
    }
    return "?";
}

// Bytes that differ from image to image and from seed to seed.
std::vector<std::uint8_t> Content(std::size_t size, std::uint64_t seed, int image) {
    std::vector<std::uint8_t> out(size);
    std::uint32_t x = static_cast<std::uint32_t>(seed * 2654435761u) ^
                      (static_cast<std::uint32_t>(image) * 0x9E3779B9u) ^ 0xA5A5A5A5u;
    if (x == 0) x = 1;
    for (std::size_t i = 0; i < size; i += 4) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        for (std::size_t k = 0; k < 4 && i + k < size; ++k)
            out[i + k] = static_cast<std::uint8_t>(x >> (8 * k));
    }
    return out;
}

bool WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

std::string Hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%X", value);
    return text;
}

// Writes the schedule's image files and fills the station's image tables as a Download does.
std::string PrepareImages(const Schedule& s, const std::string& workDir) {
    const Images& m = s.images;
    SETTINGS_ResetGlobals();
    DownloadControls controls;
    int image = 0;
    if (m.code) {
        const std::string folder = workDir + "/" + kCodeName;
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
        bool ok = WriteFile(folder + "/partition.mbn", Content(m.partition, s.seed, image++));
        const char* boot[5] = {"pbl", "qcsblhd_cfgdata", "qcsbl", "oemsblhd", "oemsbl"};
        for (int i = 0; i < 5; ++i) {
            ok = ok && WriteFile(folder + "/" + boot[i] + ".mbn",
                                 Content(m.boot ? m.bootImages[i] : 0, s.seed, image++));
        }
        ok = ok &&
             WriteFile(folder + "/" + kCodeName + "hd.mbn", Content(m.amssHeader, s.seed, image++));
        // The AMSS file is an image of flash from address 0: its part past the address is sent.
        ok = ok && WriteFile(folder + "/" + kCodeName + ".mbn",
                             Content(m.codeAddress + m.amss, s.seed, image++));
        if (!ok) return "cannot write the code images into " + folder;
        SETTINGS_CopyText(g_szCodeFile, folder);
        SETTINGS_SplitCodePath();
        g_bChangeBootArea = m.boot ? 1 : 0;
        g_bEraseAllNand = m.erase == 1 ? 1 : 0;
        g_bEraseNand = m.erase == 2 ? 1 : 0;
        controls.codeChecked = true;
        controls.codeAddressText = Hex(m.codeAddress);
    }
    if (m.resource) {
        const std::string path = workDir + "/rsc.bin";
        if (!WriteFile(path, Content(m.resourceBytes, s.seed, 99)))
            return "cannot write the resource image " + path;
        SETTINGS_CopyText(g_szEtc2File, path);
        controls.resourceChecked = true;
        controls.resourceAddressText = Hex(m.resourceAddress);
    }
    std::string message;
    if (PELOR_FillImages(controls, &message) != DOWNLOAD_READY) return "not filled: " + message;
    return {};
}

// The channel's texts, as the front end would show them.
class Texts final : public NotifyTarget {
public:
    long OnStatusMessage(unsigned message, std::uintptr_t wParam, const void* lParam) override {
        if (message == WM_DOWNLOAD_STATUS && wParam == STATUS_CHANNEL_TEXT) {
            last = static_cast<const IMAGE_ENTRY*>(lParam)->szPath;
        }
        return 0;
    }
    void OnAlert(int, const char*) override {}
    std::string last;
};

// The station's view of the line: every frame it wrote whole, and every answer it credited.
class Frames final : public LinkObserver {
public:
    struct Sent {
        int count;
        std::uint8_t seq;
        std::uint8_t code;
        std::uint64_t hash;
    };
    void OnFrameSent(int, int count, std::span<const std::uint8_t> content) override {
        sent.push_back(Sent{count, content[0], content[1],
                            SIM_BodyHash(content.subspan(1, content.size() - 3))});
    }
    void OnAnswer(int, int count, FrameAnswer answer) override {
        answers.emplace_back(count, answer);
    }
    // The wire index of the frame sent under count, or -1.
    int IndexOf(int count) const {
        const auto it = std::lower_bound(sent.begin(), sent.end(), count,
                                         [](const Sent& s, int c) { return s.count < c; });
        return it != sent.end() && it->count == count ? static_cast<int>(it - sent.begin()) : -1;
    }
    std::vector<Sent> sent;
    std::vector<std::pair<int, FrameAnswer>> answers;
};

// Whether the handset took the whole job, from its own log and flash.
bool Accepted(const std::vector<SimRequest>& log, bool flashOk, const RequestCounts& job) {
    if (!flashOk) return false;
    // Every request of the job acknowledged, and GO delivered.
    int acknowledged[256] = {};
    bool goDelivered = false;
    for (const SimRequest& r : log) {
        if (!r.crcOk) continue;
        if (r.reply == SimReply::Ack) ++acknowledged[r.code];
        goDelivered = goDelivered || r.code == Code(CMD_GO);
    }
    if (!goDelivered) return false;
    for (int c = 0; c < 256; ++c) {
        if (c != Code(CMD_GO) && acknowledged[c] < job.byCode[c]) return false;
    }
    int lastClose = -1;
    for (std::size_t i = 0; i < log.size(); ++i)
        if (log[i].crcOk && log[i].code == Code(CMD_CLOSE)) lastClose = static_cast<int>(i);
    if (lastClose < 0 || log[lastClose].reply != SimReply::Ack) return false;
    // GO: any answer but a refusal, or asked for again past the limit, leaves the job taken (a
    // handset may restart on GO before it answers).
    int goAskedAgain = 0;
    for (const SimRequest& r : log) {
        if (!r.crcOk || r.code != Code(CMD_GO)) continue;
        if (r.reply == SimReply::NakRefused) return false;
        goAskedAgain = r.reply == SimReply::NakResend ? goAskedAgain + 1 : 0;
    }
    if (goAskedAgain > kResendLimit) return false;
    for (std::size_t i = 0; i < log.size(); ++i) {
        const SimRequest& r = log[i];
        if (!r.crcOk) return false;
        if (r.code == Code(CMD_GO)) continue;
        if (static_cast<int>(i) >= lastClose) continue;
        if (r.reply == SimReply::Ack) continue;
        if (r.reply != SimReply::NakResend) return false;
        // Asked for again: taken later.
        bool taken = false;
        for (std::size_t j = i + 1; j < log.size() && !taken; ++j) {
            taken = log[j].code == r.code && log[j].bodyHash == r.bodyHash &&
                    log[j].reply == SimReply::Ack;
        }
        if (!taken) return false;
    }
    return true;
}

// Whether every reply up to the handset's last CLOSE reached the station intact, under its
// frame's own number: only then can the station know that the handset took the job. (GO lost
// before a CLOSE sent again looks the same on the line as GO's reply lost.)
bool Knowable(const std::vector<SimRequest>& log) {
    int lastClose = -1;
    for (std::size_t i = 0; i < log.size(); ++i)
        if (log[i].crcOk && log[i].code == Code(CMD_CLOSE)) lastClose = static_cast<int>(i);
    for (int i = 0; i < lastClose; ++i) {
        const SimRequest& r = log[static_cast<std::size_t>(i)];
        if (r.reply != SimReply::Ack && r.reply != SimReply::NakResend) return false;
        if (r.replySeq != (r.seq & 3)) return false;
    }
    return true;
}

std::string Details(const std::vector<SimRequest>& log, const Frames& frames) {
    std::string out =
        "handset's log (k: request seq -> reply [reply seq]) and the station's "
        "frames (count):\n";
    char line[160];
    const std::size_t n = std::max(log.size(), frames.sent.size());
    for (std::size_t k = 0; k < n; ++k) {
        std::string station = "-";
        if (k < frames.sent.size()) {
            const auto& f = frames.sent[k];
            std::string answer = "unanswered";
            for (const auto& [count, a] : frames.answers)
                if (count == f.count) answer = AnswerName(a);
            station = Name(f.code) + " #" + std::to_string(f.count) + " seq " +
                      std::to_string(f.seq) + " credited " + answer;
        }
        std::string handset = "-";
        if (k < log.size()) {
            const SimRequest& r = log[k];
            std::snprintf(line, sizeof line, "%s seq %u -> %s [%u]", Name(r.code).c_str(), r.seq,
                          ReplyName(r.reply), r.replySeq);
            handset = line;
        }
        std::snprintf(line, sizeof line, "  %3zu: %-44s | %s\n", k, handset.c_str(),
                      station.c_str());
        out += line;
    }
    return out;
}

// The first oracle check that does not hold, or "".
std::string Check(const Schedule& s, const Verdict& v, const std::vector<SimRequest>& log,
                  const Frames& frames, const SimLine& line, std::int64_t started,
                  std::int64_t ended, int goAnswered, int unconfirmed) {
    char text[256];
    // The handset got exactly the frames the station wrote, in order (up to a write the port
    // did not take whole).
    const std::size_t whole = line.LogSizeAtWriteFault() >= 0
                                  ? static_cast<std::size_t>(line.LogSizeAtWriteFault())
                                  : log.size();
    if (whole > frames.sent.size()) return "the handset got frames the station never sent";
    for (std::size_t k = 0; k < whole; ++k) {
        const SimRequest& r = log[k];
        const auto& f = frames.sent[k];
        if (!r.crcOk || r.seq != f.seq || r.bodyHash != f.hash) {
            std::snprintf(text, sizeof text,
                          "frame %zu: the station sent %s seq %u, the handset "
                          "got %s seq %u",
                          k, Name(f.code).c_str(), f.seq, Name(r.code).c_str(), r.seq);
            return text;
        }
    }
    // Every answer the station credited is the one the handset gave that very frame.
    for (const auto& [count, answer] : frames.answers) {
        const int k = frames.IndexOf(count);
        if (answer == FrameAnswer::Bad || answer == FrameAnswer::None ||
            answer == FrameAnswer::Unsent) {
            continue;
        }
        // Past a frame not written whole the line no longer carries what the station sent.
        if (line.LogSizeAtWriteFault() >= 0 && (k < 0 || k >= static_cast<int>(whole))) continue;
        const bool ownSeq = k >= 0 && k < static_cast<int>(log.size()) &&
                            log[k].replySeq == (frames.sent[k].seq & 3);
        SimReply expected = SimReply::Ack;
        if (answer == FrameAnswer::Resend) expected = SimReply::NakResend;
        if (answer == FrameAnswer::Refused) expected = SimReply::NakRefused;
        if (!ownSeq || log[k].reply != expected) {
            std::snprintf(text, sizeof text,
                          "the station counted frame #%d as '%s', but the handset answered it %s",
                          count, AnswerName(answer),
                          k >= 0 && k < static_cast<int>(log.size()) ? ReplyName(log[k].reply)
                                                                     : "never (it never got it)");
            return text;
        }
    }
    // GO ends the job (a handset restarts on it): only GO sent again may follow it.
    bool goSent = false;
    for (const auto& f : frames.sent) {
        if (goSent && f.code != Code(CMD_GO)) return Name(f.code) + " went out after GO";
        goSent = goSent || f.code == Code(CMD_GO);
    }
    // Done means done, and a handset that took everything is reported done.
    if (v.done && !v.accepted) return "reported done, but the handset did not take the whole job";
    if (!v.done && v.accepted && Knowable(log) && s.stopAtUs < 0 &&
        line.LogSizeAtWriteFault() < 0) {
        return "the handset took the whole job, but the station failed it: " +
               OUTCOME_Describe(v.outcome);
    }
    // A frame the port did not take whole fails the job, at the write, with the system's word.
    if (line.LogSizeAtWriteFault() >= 0) {
        if (v.done) return "done although a frame was not written whole";
        if (s.faults.empty() && s.stopAtUs < 0 &&
            (v.outcome.step != JobStep::Write || v.outcome.reason != JobReason::WriteFailed ||
             v.outcome.code != (s.line.cutShort ? 0 : EIO))) {
            return "a frame not written whole, but the outcome says " + OUTCOME_Describe(v.outcome);
        }
    }
    if (s.recoverable && !v.done) {
        return "only recoverable faults, but not done: " + OUTCOME_Describe(v.outcome);
    }
    if (v.done && unconfirmed != 0) return "done with requests unconfirmed";
    // A healthy line carries the job's requests, each once.
    if (s.faults.empty() && s.stopAtUs < 0 && s.line.failWrite < 0) {
        const int expected = ExpectedRequests(s.images).total;
        if (static_cast<int>(log.size()) != expected ||
            static_cast<int>(frames.sent.size()) != expected) {
            std::snprintf(text, sizeof text,
                          "a healthy line carried %zu requests (the station sent %zu), the job "
                          "has %d",
                          log.size(), frames.sent.size(), expected);
            return text;
        }
    }
    // Time bounds: a healthy end within the grace after the handset's last word; a failure
    // within the longest exchange wait plus the close procedure, the windows of CLOSE and GO
    // and the grace; a dead line or a stop at once.
    const std::int64_t took = ended - started;
    const std::int64_t last = line.LastActivityUs() - started;
    std::int64_t bound = last + (v.done ? 3 * kSecond : (50 + 3 + 12 + 12 + 3) * kSecond);
    if (line.DiedAtUs() >= 0) bound = std::min(bound, line.DiedAtUs() - started + kSecond / 10);
    if (s.stopAtUs >= 0 && s.stopAtUs < took) bound = std::min(bound, s.stopAtUs + kSecond / 10);
    bound += kSecond / 20;
    if (took > bound) {
        std::snprintf(text, sizeof text, "took %.3f s of virtual time, bound %.3f s", took / 1e6,
                      bound / 1e6);
        return text;
    }
    // The channel's text and outcome (what the report shows) agree with the result.
    const bool completeText = StartsWith(v.text, "Download Complete!");
    if (v.done) {
        if (v.outcome.Failed()) return "done, but an outcome says " + OUTCOME_Describe(v.outcome);
        if (!completeText) return "done, but the channel shows '" + v.text + "'";
        if (goAnswered != 0 && goAnswered != 1) return "done without a GO answer recorded";
    } else {
        if (!v.outcome.Failed() || v.outcome.reason == JobReason::None ||
            OUTCOME_ReasonName(v.outcome.reason)[0] == '\0') {
            return "failed without a step and reason";
        }
        if (completeText) return "failed, but the channel shows '" + v.text + "'";
    }
    if (goAnswered == 1) {
        bool answered = false;
        for (const SimRequest& r : log) {
            answered = answered || (r.code == Code(CMD_GO) && r.replySeq == (r.seq & 3) &&
                                    (r.reply == SimReply::Ack || r.reply == SimReply::NakRefused ||
                                     r.reply == SimReply::NakResend));
        }
        if (!answered) return "reported GO answered, but the handset never answered GO";
    }
    return {};
}

}  // namespace

Verdict Run(const Schedule& s, const std::string& workDir, bool detailed) {
    Verdict v;
    VirtualClock clock;
    Frames frames;
    Environment env;
    env.clock = &clock;
    env.observer = &frames;
    env.delayMs = s.line.writeDelayMs;
    env.format = s.images.format ? 1 : 0;
    Station station(env);
    StationScope scope(station);

    const std::string problem = PrepareImages(s, workDir);
    if (!problem.empty()) {
        v.ok = false;
        v.failure = problem;
        return v;
    }
    SimLine line(s, clock);
    Texts texts;
    const int ch = s.channel;
    std::array<int, kChannels> ports{};
    ports[ch] = 1;
    PELOR_Start(&texts, WM_DOWNLOAD_STATUS, ports, kDefaultBaudRate);
    {
        std::lock_guard lock(SERIAL_PORT_Mutex());
        g_hSerialDevice.Set(ch, line.StationEnd());
    }
    const std::int64_t started = clock.NowMicros();
    if (s.stopAtUs >= 0) line.At(started + s.stopAtUs, [ch] { PELOR_CloseChannel(ch); });

    FileDownload(ch);

    const std::int64_t ended = clock.NowMicros();
    v.virtualUs = ended - started;
    v.done = g_nChannelResult[ch].load() == 1;
    v.text = texts.last;
    v.outcome = OUTCOME_Get(ch);
    const int goAnswered = g_nGoAnswered[ch].load();
    const int unconfirmed = FLASH_DOWNLOADER_Unconfirmed(ch);

    std::vector<SimExpectedImage> images;
    std::string error;
    const bool expectedKnown = SIM_ExpectedImages(ch, images, &error) != 0;
    const bool flashOk = expectedKnown && line.Agent().Flash().Verify(images).ok;
    const std::vector<SimRequest>& log = line.Agent().Requests();
    v.accepted = Accepted(log, flashOk, ExpectedRequests(s.images));
    PELOR_Stop();

    v.failure = expectedKnown
                    ? Check(s, v, log, frames, line, started, ended, goAnswered, unconfirmed)
                    : error;
    v.ok = v.failure.empty();
    if (detailed) {
        v.details = Details(log, frames) +
                    "station: " + (v.done ? std::string("done") : OUTCOME_Describe(v.outcome)) +
                    ", text '" + v.text + "', go answered " + std::to_string(goAnswered) + ", " +
                    std::to_string(v.virtualUs) + " us; handset " +
                    (v.accepted ? "took the whole job" : "did not take the whole job") +
                    (flashOk ? "" : " (flash differs)") + "\n";
    }
    return v;
}

}  // namespace linksim
