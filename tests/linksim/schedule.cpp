#include "schedule.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "link/commands.h"
#include "link/flash_downloader.h"
#include "sim/sim_names.h"

namespace linksim {

namespace {

constexpr std::uint32_t kBlock = kBlockSize;

std::uint8_t Code(int index) {
    return kCommandCodes[index];
}

// Blocks of an image: mostly a few, sometimes a dozen, now and then a few dozen.
int Blocks(Random& r) {
    const int kind = static_cast<int>(r.Between(1, 100));
    if (kind <= 55) return static_cast<int>(r.Between(1, 4));
    if (kind <= 85) return static_cast<int>(r.Between(5, 12));
    return static_cast<int>(r.Between(13, 36));
}

// A size that fills blocks whole blocks, the last one partly or wholly.
std::uint32_t SizeOf(Random& r, int blocks) {
    const std::uint32_t whole = static_cast<std::uint32_t>(blocks) * kBlock;
    return r.Chance(20) ? whole : whole - static_cast<std::uint32_t>(r.Between(0, kBlock - 1));
}

std::uint32_t SmallImage(Random& r) {
    if (r.Chance(5)) return 0;  // an empty file: no erase, no block
    if (r.Chance(10)) return SizeOf(r, 2);
    return static_cast<std::uint32_t>(r.Between(1, kBlock));
}

ReadCut Cut(Random& r) {
    switch (r.Between(0, 3)) {
        case 0:
            return ReadCut::All;
        case 1:
            return ReadCut::OneByte;
        case 2:
            return ReadCut::Small;
        default:
            return ReadCut::Mixed;
    }
}

const char* CutName(ReadCut cut) {
    switch (cut) {
        case ReadCut::All:
            return "all";
        case ReadCut::OneByte:
            return "one-byte";
        case ReadCut::Small:
            return "small";
        case ReadCut::Mixed:
            return "mixed";
    }
    return "?";
}

int BlocksOf(std::uint32_t bytes) {
    return static_cast<int>((std::uint64_t{bytes} + kBlock - 1) / kBlock);
}

void AddImage(RequestCounts& counts, int selection, std::uint32_t bytes, int dataCode,
              bool endImage) {
    const auto add = [&](int code, int n) {
        counts.byCode[code] += n;
        counts.total += n;
    };
    add(Code(selection), 1);
    if (bytes > 0) add(Code(CMD_ERASE), 1);
    add(Code(dataCode), BlocksOf(bytes));
    if (endImage) add(Code(CMD_END_IMAGE), 1);
}

SimFault Fault(SimFaultKind kind, int code, int ordinal) {
    SimFault f;
    f.kind = kind;
    f.code = code;
    f.ordinal = ordinal;
    return f;
}

}  // namespace

std::uint64_t Random::Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15u);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return z ^ (z >> 31);
}

std::int64_t Random::Between(std::int64_t lo, std::int64_t hi) {
    if (hi <= lo) return lo;
    const std::uint64_t span = static_cast<std::uint64_t>(hi - lo) + 1;
    return lo + static_cast<std::int64_t>(Next() % span);
}

RequestCounts ExpectedRequests(const Images& m) {
    RequestCounts counts;
    const auto add = [&](int index) {
        ++counts.byCode[Code(index)];
        ++counts.total;
    };
    add(CMD_UNLOCK);
    add(CMD_VERSION);
    if (m.code) {
        if (m.erase == 1) add(CMD_ERASE_ALL_NAND);
        if (m.erase == 2) add(CMD_ERASE_NAND_EXCEPT_BACKUP);
        add(CMD_SECURITY_MODE);
        AddImage(counts, CMD_INIT_PARTITION, m.partition, CMD_WRITE, true);
        if (m.boot) {
            const int selections[5] = {CMD_INIT_PBL, CMD_INIT_QCSBL_HEADER, CMD_INIT_QCSBL,
                                       CMD_INIT_OEMSBL_HEADER, CMD_INIT_OEMSBL};
            for (int i = 0; i < 5; ++i) {
                AddImage(counts, selections[i], m.bootImages[i], CMD_WRITE, i % 2 == 0);
            }
        }
        AddImage(counts, CMD_INIT_AMSS_HEADER, m.amssHeader, CMD_WRITE, false);
        AddImage(counts, CMD_INIT_AMSS, m.amss, CMD_WRITE, true);
    }
    if (m.resource) {
        AddImage(counts, m.format ? CMD_FS_FORMAT : CMD_FS_INIT, m.resourceBytes, CMD_FS_WRITE,
                 false);
    }
    add(CMD_CLOSE);
    add(CMD_GO);
    return counts;
}

Schedule Draw(std::uint64_t seed) {
    Schedule s;
    s.seed = seed;
    Random root(seed);
    Random r = root.Split(1);
    s.channel = static_cast<int>(r.Between(0, 7));

    // The images, as the operator's choices allow them (an erase writes the boot chain too;
    // an erase that keeps the backup area needs the resource image).
    Images& m = s.images;
    m.code = r.Chance(90);
    m.resource = !m.code || r.Chance(45);
    if (m.code) {
        m.erase = r.Chance(80) ? 0 : static_cast<int>(r.Between(1, 2));
        m.boot = m.erase != 0 || r.Chance(30);
        if (m.erase == 2) m.resource = true;
        const int address = static_cast<int>(r.Between(0, 3));
        m.codeAddress = address <= 1 ? 0u : address == 2 ? 0x4000u : 0x18000u;
        m.partition = SmallImage(r);
        if (m.boot) {
            for (std::uint32_t& b : m.bootImages) b = r.Chance(85) ? SmallImage(r) : SizeOf(r, 3);
        }
        m.amssHeader = SmallImage(r);
        m.amss = SizeOf(r, Blocks(r));
    }
    if (m.resource) {
        m.format = r.Chance(80);
        m.resourceAddress = r.Chance(70) ? 0u : 0x1000u;
        m.resourceBytes = r.Chance(5) ? 0u : SizeOf(r, std::max(1, Blocks(r) / 2));
    }

    // The line.
    Random l = root.Split(2);
    Line& line = s.line;
    const int baud = static_cast<int>(l.Between(1, 10));
    line.baud = baud <= 4 ? 0u : baud <= 8 ? 1382400u : 921600u;
    line.writeDelayMs = static_cast<int>(l.Between(0, 2));
    const int latency = static_cast<int>(l.Between(1, 10));
    line.latencyMaxUs = latency <= 2 ? 0 : latency <= 4 ? 1000 : latency <= 7 ? 10000 : 50000;
    line.programUs = l.Between(0, 1000);
    line.eraseUs = l.Between(0, 2000);
    line.stationReads = Cut(l);
    line.handsetReads = Cut(l);

    // The faults, aimed at any request the job sends: a kind of request first (so that ERASE,
    // END_IMAGE, CLOSE and GO are hit as often as the blocks), then one of its ordinals.
    Random f = root.Split(3);
    const RequestCounts counts = ExpectedRequests(m);
    std::vector<int> codes;
    for (int c = 0; c < 256; ++c)
        if (counts.byCode[c] > 0) codes.push_back(c);
    const auto pickCode = [&] {
        return codes[f.Between(0, static_cast<std::int64_t>(codes.size()) - 1)];
    };
    const auto pickOrdinal = [&](int code) {
        return static_cast<int>(f.Between(1, counts.byCode[code]));
    };
    std::map<int, int> askedAgain;  // "send again" answers aimed at each code
    const int kinds = f.Chance(35) ? 0 : static_cast<int>(f.Between(1, 3));
    for (int k = 0; k < kinds; ++k) {
        const int code = pickCode();
        const int ordinal = pickOrdinal(code);
        const int kind = static_cast<int>(f.Between(1, 100));
        if (kind <= 20) {  // one request asked for again, once or a few times in a row
            SimFault one = Fault(SimFaultKind::NakResend, code, ordinal);
            one.times = f.Chance(80) ? 1 : static_cast<int>(f.Between(2, kResendLimit));
            askedAgain[code] += one.times;
            s.faults.push_back(one);
        } else if (kind <= 35) {  // two in a row: answers that arrive in separate reads
            s.faults.push_back(Fault(SimFaultKind::NakResend, code, ordinal));
            s.faults.push_back(Fault(SimFaultKind::NakResend, code, ordinal + 1));
            askedAgain[code] += 2;
        } else if (kind <= 45) {  // scattered over the job
            const int n = static_cast<int>(f.Between(2, 4));
            for (int i = 0; i < n; ++i) {
                const int c = pickCode();
                s.faults.push_back(Fault(SimFaultKind::NakResend, c, pickOrdinal(c)));
                ++askedAgain[c];
            }
        } else if (kind <= 55) {  // noise before one reply or every one
            SimFault g = Fault(SimFaultKind::Garbage, f.Chance(50) ? code : kSimAnyCommand,
                               f.Chance(50) ? ordinal : kSimEveryRequest);
            g.garbageBytes = static_cast<int>(f.Between(1, 40));
            s.faults.push_back(g);
        } else if (kind <= 62) {  // a late reply
            SimFault late = Fault(SimFaultKind::Latency, code, ordinal);
            late.latency = std::chrono::microseconds(f.Between(1000, 300000));
            s.faults.push_back(late);
        } else {  // a fault the station cannot mend
            static constexpr SimFaultKind kHard[] = {
                SimFaultKind::Refuse,   SimFaultKind::CorruptCrc, SimFaultKind::Drop,
                SimFaultKind::Silent,   SimFaultKind::Unplug,     SimFaultKind::WrongSeq,
                SimFaultKind::NakResend};
            const SimFaultKind hard = kHard[f.Between(0, 6)];
            SimFault h = Fault(hard, code, ordinal);
            if (hard == SimFaultKind::NakResend) {
                h.times = static_cast<int>(f.Between(kResendLimit + 1, 12));
                askedAgain[code] += h.times;
            }
            s.faults.push_back(h);
            s.recoverable = false;
        }
    }
    // However the answers fall, no request is asked for again more often than the limit.
    for (const auto& [code, times] : askedAgain)
        if (times > kResendLimit) s.recoverable = false;
    if (f.Chance(3)) {
        s.line.failWrite = static_cast<int>(f.Between(0, 2 * counts.total));
        s.line.cutShort = f.Chance(50);
        s.recoverable = false;
    }
    if (f.Chance(3)) {
        s.stopAtUs = f.Between(0, 50000 + 8000 * static_cast<std::int64_t>(counts.total));
        s.recoverable = false;
    }
    return s;
}

std::string Describe(const Schedule& s) {
    const Images& m = s.images;
    std::string out = "seed=" + std::to_string(s.seed) + " ch" + std::to_string(s.channel);
    char text[160];
    if (m.code) {
        std::snprintf(text, sizeof text, " code@0x%X(partition %u B, amss %u B = %d blocks%s)",
                      m.codeAddress, m.partition, m.amss, BlocksOf(m.amss),
                      m.boot ? ", boot chain" : "");
        out += text;
        if (m.erase != 0) out += m.erase == 1 ? " erase=all" : " erase=except-backup";
    }
    if (m.resource) {
        std::snprintf(text, sizeof text, " rsc@0x%X(%u B = %d blocks, %s)", m.resourceAddress,
                      m.resourceBytes, BlocksOf(m.resourceBytes), m.format ? "format" : "init");
        out += text;
    }
    std::snprintf(text, sizeof text, " line(baud %u, delay %d ms, latency <= %lld us, reads %s/%s)",
                  s.line.baud, s.line.writeDelayMs, static_cast<long long>(s.line.latencyMaxUs),
                  CutName(s.line.stationReads), CutName(s.line.handsetReads));
    out += text;
    out += " faults=";
    if (s.faults.empty()) out += "none";
    for (std::size_t i = 0; i < s.faults.size(); ++i) {
        if (i > 0) out += ',';
        out += SIM_FaultText(s.faults[i]);
    }
    if (s.line.failWrite >= 0) {
        out += std::string(" write#") + std::to_string(s.line.failWrite) +
               (s.line.cutShort ? "=short" : "=refused");
    }
    if (s.stopAtUs >= 0) out += " stop@" + std::to_string(s.stopAtUs) + "us";
    out += s.recoverable ? " (recoverable)" : " (not recoverable)";
    return out;
}

}  // namespace linksim
