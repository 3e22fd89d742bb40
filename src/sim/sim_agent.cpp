#include "sim/sim_agent.h"

#include <algorithm>
#include <cstring>

#include "link/commands.h"
#include "link/crc16.h"

namespace {

constexpr std::uint8_t kReasonResend = 1;
constexpr std::uint8_t kReasonRefused = 2;
constexpr std::size_t kAreaBodyLength = 7;

std::uint8_t Code(int index) {
    return kCommandCodes[index];
}

std::uint32_t U32(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
           static_cast<std::uint32_t>(b[at + 2]) << 16 |
           static_cast<std::uint32_t>(b[at + 3]) << 24;
}

std::uint32_t U16(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8;
}

bool IsAreaRequest(std::uint8_t code) {
    return (code >= Code(CMD_INIT_PARTITION) && code <= Code(CMD_INIT_AMSS)) ||
           code == Code(CMD_ERASE_ALL_NAND) || code == Code(CMD_ERASE_NAND_EXCEPT_BACKUP) ||
           code == Code(CMD_SECURITY_MODE);
}

// Where the data of WRITE (after the repeated code byte) and FS_WRITE begins in the body.
std::size_t DataOffset(std::uint8_t code) {
    return code == Code(CMD_WRITE) ? 8 : 7;
}

}  // namespace

std::uint64_t SIM_BodyHash(std::span<const std::uint8_t> body) {
    // Eight bytes at a time, mixed as splitmix64 mixes: cheap for 16 KiB blocks.
    std::uint64_t h = 0x9E3779B97F4A7C15u ^ body.size();
    std::size_t i = 0;
    const auto mix = [&h](std::uint64_t word) {
        h ^= word;
        h *= 0xBF58476D1CE4E5B9u;
        h ^= h >> 29;
    };
    for (; i + 8 <= body.size(); i += 8) {
        std::uint64_t word;
        std::memcpy(&word, body.data() + i, 8);
        mix(word);
    }
    std::uint64_t tail = 0;
    for (std::size_t k = 0; i + k < body.size(); ++k) tail |= std::uint64_t{body[i + k]} << (8 * k);
    mix(tail);
    return h ^ (h >> 31);
}

SimAgent::SimAgent(SimOptions options)
    : options_(std::move(options)),
      assembler_(std::make_unique<FrameAssembler>()),
      noise_(options_.seed == 0 ? 1 : options_.seed) {
    for (const SimFault& f : options_.faults) {
        // A silence aimed at the very first request of all: nothing is ever answered.
        if (f.kind == SimFaultKind::Silent && f.code == kSimAnyCommand && f.ordinal <= 1) {
            silent_ = true;
        }
    }
}

void SimAgent::Feed(std::span<const std::uint8_t> in, std::vector<SimOutput>& out) {
    if (unplugged_) return;
    bytesReceived_ += in.size();
    assembler_->Feed(in, [&](std::span<const std::uint8_t> frame) {
        if (unplugged_) return;
        out.push_back(OnFrame(frame));
    });
}

std::vector<std::uint8_t> SimAgent::OnBytes(std::span<const std::uint8_t> in) {
    std::vector<SimOutput> outputs;
    Feed(in, outputs);
    std::vector<std::uint8_t> bytes;
    for (const SimOutput& o : outputs) {
        if (o.unplug) break;
        bytes.insert(bytes.end(), o.bytes.begin(), o.bytes.end());
    }
    return bytes;
}

SimOutput SimAgent::OnFrame(std::span<const std::uint8_t> frame) {
    SimOutput out;
    SimRequest record;
    record.seq = frame[0];
    const std::uint8_t seq = frame[0] & 3;

    // seq, code and two CRC bytes at the least.
    record.crcOk = frame.size() >= 4 && CRC16_Check(frame, 1, static_cast<int>(frame.size()) - 1);
    if (!record.crcOk) {
        if (silent_) {
            record.reply = SimReply::Silent;
        } else {
            record.reply = SimReply::NakResend;
            record.replySeq = seq;
            out.delay = options_.replyLatency;
            AppendReply(seq, false, kReasonResend, false, out.bytes);
        }
        requests_.push_back(record);
        return out;
    }

    const std::span<const std::uint8_t> body = frame.subspan(1, frame.size() - 3);
    const std::uint8_t code = body[0];
    record.code = code;
    record.bodyHash = SIM_BodyHash(body);
    const int codeOrdinal = ++codeCount_[code];
    const int anyOrdinal = ++anyCount_;

    bool refuse = false, resend = false, corrupt = false, drop = false;
    bool goSilent = false, unplug = false, hold = false, wrongSeq = false;
    int resendTimes = 0;
    int garbage = 0;
    std::chrono::microseconds delay = options_.replyLatency;
    for (const SimFault& f : options_.faults) {
        if (!f.Matches(code, codeOrdinal, anyOrdinal)) continue;
        switch (f.kind) {
            case SimFaultKind::Refuse:
                refuse = true;
                break;
            case SimFaultKind::NakResend:
                resend = true;
                resendTimes = std::max(resendTimes, f.times);
                break;
            case SimFaultKind::CorruptCrc:
                corrupt = true;
                break;
            case SimFaultKind::Drop:
                drop = true;
                break;
            case SimFaultKind::Garbage:
                garbage += f.garbageBytes;
                break;
            case SimFaultKind::Latency:
                delay += f.latency;
                break;
            case SimFaultKind::Silent:
                goSilent = true;
                break;
            case SimFaultKind::Unplug:
                unplug = true;
                break;
            case SimFaultKind::Hold:
                hold = true;
                break;
            case SimFaultKind::WrongSeq:
                wrongSeq = true;
                break;
        }
    }
    // A request asked for again n times in a row: its repeats are asked for again too.
    for (auto it = repeats_.begin(); it != repeats_.end(); ++it) {
        if (!std::equal(it->body.begin(), it->body.end(), body.begin(), body.end())) continue;
        resend = true;
        if (--it->remaining == 0) repeats_.erase(it);
        break;
    }
    if (resendTimes > 1) repeats_.push_back({{body.begin(), body.end()}, resendTimes - 1});

    // Decoded for the log also when a fault keeps the request from being carried out.
    const bool wellFormed = Decode(body, record);
    if (unplug) {  // the cable goes whether or not the agent still talks
        unplugged_ = true;
        record.reply = SimReply::Unplugged;
        out.unplug = true;
        requests_.push_back(record);
        return out;
    }
    if (goSilent) silent_ = true;
    if (silent_) {
        // A handset that has hung carries nothing out either.
        record.reply = SimReply::Silent;
        requests_.push_back(record);
        return out;
    }

    std::chrono::microseconds work{0};
    const int reason = refuse   ? kReasonRefused
                       : resend ? kReasonResend
                                : Execute(body, wellFormed, record, work);
    if (drop) {
        record.reply = SimReply::Dropped;
    } else {
        record.reply = corrupt                   ? SimReply::CorruptCrc
                       : wrongSeq                ? SimReply::WrongSeq
                       : reason == 0             ? SimReply::Ack
                       : reason == kReasonResend ? SimReply::NakResend
                                                 : SimReply::NakRefused;
        record.replySeq = wrongSeq ? static_cast<std::uint8_t>((seq + 1) & 3) : seq;
        out.delay = work + delay;
        out.bytes = std::move(held_);
        held_.clear();
        AppendGarbage(garbage, out.bytes);
        AppendReply(record.replySeq, reason == 0, static_cast<std::uint8_t>(reason), corrupt,
                    out.bytes);
        if (hold) {
            // Written together with the next reply.
            held_ = std::move(out.bytes);
            out.bytes.clear();
        }
    }
    requests_.push_back(record);
    return out;
}

bool SimAgent::Decode(std::span<const std::uint8_t> body, SimRequest& record) {
    const std::uint8_t code = body[0];
    const std::size_t size = body.size();
    if (code == Code(CMD_UNLOCK) || code == Code(CMD_CLOSE) || code == Code(CMD_GO) ||
        code == Code(CMD_END_IMAGE) || code == Code(CMD_FS_FORMAT) || code == Code(CMD_FS_INIT)) {
        return size == 1;
    }
    if (code == Code(CMD_VERSION)) {
        if (size != 5) return false;
        record.version = U32(body, 1);
        return true;
    }
    if (IsAreaRequest(code)) {
        if (size != kAreaBodyLength) return false;
        record.address = U32(body, 1);
        record.length = U16(body, 5);
        return record.length >= 1 && record.length <= kBlockSize;
    }
    if (code == Code(CMD_ERASE)) {
        if (size != 9) return false;
        record.address = U32(body, 1);
        record.length = U32(body, 5);
        return record.length > 0;
    }
    if (code == Code(CMD_WRITE) || code == Code(CMD_FS_WRITE)) {
        const std::size_t header = DataOffset(code);
        if (size < header) return false;
        record.address = U32(body, 1);
        record.length = U16(body, 5);
        record.dataSize = size - header;
        return record.length >= 1 && record.length <= kBlockSize &&
               record.dataSize == record.length && (code != Code(CMD_WRITE) || body[7] == code);
    }
    return false;
}

int SimAgent::Execute(std::span<const std::uint8_t> body, bool wellFormed, const SimRequest& record,
                      std::chrono::microseconds& work) {
    if (!wellFormed) return kReasonRefused;
    const std::uint8_t code = body[0];

    if (code == Code(CMD_UNLOCK)) {
        unlocked_ = true;
        versionOk_ = false;
        closed_ = false;
        target_ = -1;
        return 0;
    }
    if (code == Code(CMD_CLOSE)) {
        closed_ = true;
        return 0;
    }
    if (code == Code(CMD_VERSION)) {
        if (!unlocked_ || closed_) return kReasonRefused;
        versionOk_ = record.version == DOWNLOADER_VERSION;
        return versionOk_ ? 0 : kReasonRefused;
    }
    if (code == Code(CMD_GO)) {
        if (!unlocked_ || !versionOk_) return kReasonRefused;
        ++goCount_;
        // The handset boots the new image; its agent comes back locked.
        unlocked_ = false;
        versionOk_ = false;
        closed_ = false;
        target_ = -1;
        return 0;
    }

    // Everything below needs an open session.
    if (!unlocked_ || !versionOk_ || closed_) return kReasonRefused;

    if (code >= Code(CMD_INIT_PARTITION) && code <= Code(CMD_INIT_AMSS)) {
        target_ = code;
        return 0;
    }
    if (code == Code(CMD_SECURITY_MODE)) {
        securityMode_ = true;
        return 0;
    }
    if (code == Code(CMD_ERASE_ALL_NAND) || code == Code(CMD_ERASE_NAND_EXCEPT_BACKUP)) {
        flash_.EraseNand(code == Code(CMD_ERASE_NAND_EXCEPT_BACKUP));
        work = options_.eraseLatencyPerRequest;
        return 0;
    }
    if (code == Code(CMD_END_IMAGE)) return 0;
    if (code == Code(CMD_FS_FORMAT)) {
        flash_.FormatFs();
        work = options_.eraseLatencyPerRequest;
        target_ = kSimAreaFs;
        return 0;
    }
    if (code == Code(CMD_FS_INIT)) {
        flash_.InitFs();
        target_ = kSimAreaFs;
        return 0;
    }
    if (target_ < 0) return kReasonRefused;
    SimSpace& space = flash_.Area(static_cast<std::uint8_t>(target_));
    if (code == Code(CMD_ERASE)) {
        if (!space.Erase(record.address, record.length)) return kReasonRefused;
        const auto blocks = (std::uint64_t{record.length} + kBlockSize - 1) / kBlockSize;
        work = options_.eraseLatencyPerRequest +
               options_.eraseLatencyPerBlock * static_cast<std::int64_t>(blocks);
        return 0;
    }
    // WRITE goes to a code area, FS_WRITE to the file system.
    const bool fs = code == Code(CMD_FS_WRITE);
    if (fs != (target_ == kSimAreaFs)) return kReasonRefused;
    if (!space.Write(record.address, body.subspan(DataOffset(code), record.length))) {
        return kReasonRefused;
    }
    work = options_.programLatencyPerBlock;
    return 0;
}

void SimAgent::AppendReply(std::uint8_t seq, bool ack, std::uint8_t reason, bool corruptCrc,
                           std::vector<std::uint8_t>& out) const {
    std::array<std::uint8_t, 6> content = {
        seq, Code(ack ? CMD_ACK : CMD_NAK), 0x00, ack ? std::uint8_t{0} : reason, 0, 0};
    CRC16_Append(content, 1, 3);
    if (corruptCrc) content[4] ^= 0xFF;
    FRAME_EncodeTo(content, out);
}

void SimAgent::AppendGarbage(int count, std::vector<std::uint8_t>& out) {
    for (int i = 0; i < count; ++i) {
        // xorshift32: repeatable noise for a given seed.
        noise_ ^= noise_ << 13;
        noise_ ^= noise_ >> 17;
        noise_ ^= noise_ << 5;
        std::uint8_t b = static_cast<std::uint8_t>(noise_ >> 24);
        if (b == kFrameFlag) b = 0x55;
        out.push_back(b);
    }
}
