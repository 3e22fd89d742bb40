#include "simulation_log.h"

#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>

#include "link/commands.h"
#include "sim/sim_flash.h"
#include "sim/sim_names.h"

namespace {

constexpr std::size_t kReadChunk = 1 << 20;

// Carried out by the agent, whether or not its reply reached the station.
bool CarriedOut(const SimRequest& r) {
    return r.crcOk && (r.reply == SimReply::Ack || r.reply == SimReply::CorruptCrc ||
                       r.reply == SimReply::Dropped || r.reply == SimReply::WrongSeq);
}

const char* ReplyName(SimReply reply) {
    switch (reply) {
        case SimReply::Ack:
            return "ack";
        case SimReply::NakResend:
            return "nak-resend";
        case SimReply::NakRefused:
            return "refused";
        case SimReply::CorruptCrc:
            return "corrupt-crc";
        case SimReply::Dropped:
            return "dropped";
        case SimReply::Silent:
            return "silent";
        case SimReply::Unplugged:
            return "unplugged";
        case SimReply::WrongSeq:
            return "wrong-seq";
    }
    return "?";
}

// One line of the log; every line is far shorter than the buffer.
std::string Format(const char* format, ...) {
    char line[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    return line;
}

}  // namespace

std::vector<SimWrittenRange> SIM_WrittenRanges(const std::vector<SimRequest>& requests) {
    std::vector<SimWrittenRange> ranges;
    int target = -1;
    for (const SimRequest& r : requests) {
        if (!CarriedOut(r) || r.code < 0) continue;
        const auto code = static_cast<std::uint8_t>(r.code);
        if (SimFlash::IsCodeArea(code)) {
            target = code;
        } else if (code == kCommandCodes[CMD_FS_FORMAT] || code == kCommandCodes[CMD_FS_INIT]) {
            target = kSimAreaFs;
        } else if ((code == kCommandCodes[CMD_WRITE] || code == kCommandCodes[CMD_FS_WRITE]) &&
                   target >= 0 && r.dataSize > 0) {
            ranges.push_back({static_cast<std::uint8_t>(target), r.address, r.dataSize});
        }
    }
    std::sort(ranges.begin(), ranges.end(), [](const SimWrittenRange& a, const SimWrittenRange& b) {
        return a.area != b.area ? a.area < b.area : a.address < b.address;
    });
    std::vector<SimWrittenRange> merged;
    for (const SimWrittenRange& r : ranges) {
        if (!merged.empty() && merged.back().area == r.area &&
            r.address <= merged.back().address + merged.back().length) {
            SimWrittenRange& last = merged.back();
            last.length = std::max(last.length, r.address + r.length - last.address);
        } else {
            merged.push_back(r);
        }
    }
    return merged;
}

std::uint64_t SIM_RangeDigest(const SimWrittenRange& range, const SimAreaReader& read) {
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (std::uint64_t done = 0; done < range.length;) {
        const auto n =
            static_cast<std::size_t>(std::min<std::uint64_t>(kReadChunk, range.length - done));
        for (std::uint8_t b :
             read(range.area, static_cast<std::uint32_t>(range.address + done), n)) {
            hash = (hash ^ b) * 0x100000001b3ull;
        }
        done += n;
    }
    return hash;
}

std::string SIM_LogSection(int handset, const std::vector<SimRequest>& requests, int goCount,
                           const SimAreaReader& read) {
    std::string out = Format("handset %d\n", handset);
    int index = 0;
    for (const SimRequest& r : requests) {
        ++index;
        const char* name =
            !r.crcOk ? "BAD_CRC"
                     : (r.code >= 0 ? SIM_CommandName(static_cast<std::uint8_t>(r.code)) : nullptr);
        out += Format("request %d %s seq=%u address=0x%08" PRIX32 " length=%" PRIu32
                      " version=0x%" PRIX32 " data=%zu %s\n",
                      index, name != nullptr ? name : "?", static_cast<unsigned>(r.seq), r.address,
                      r.length, r.version, r.dataSize, ReplyName(r.reply));
    }
    out += Format("go %d\n", goCount);
    for (const SimWrittenRange& range : SIM_WrittenRanges(requests)) {
        out +=
            Format("written %s address=0x%08" PRIX32 " length=%" PRIu64 " fnv1a64=%016" PRIx64 "\n",
                   SIM_AreaName(range.area).c_str(), range.address, range.length,
                   SIM_RangeDigest(range, read));
    }
    return out;
}

std::string SIM_DumpName(int handset, const SimWrittenRange& range) {
    return Format("handset%d-%s-0x%08" PRIX32 ".bin", handset, SIM_AreaName(range.area).c_str(),
                  range.address);
}
