#pragma once
// The simulated handset's download agent: takes the station's bytes, assembles request frames,
// carries the requests out on a simulated flash and produces exactly one reply frame per
// request frame (unless a fault says otherwise). Synchronous and single-threaded: unit tests and
// scripted peers drive it directly; SimHandset runs it on a descriptor with a thread.
//
// Replies: ACK content is  seq 02 00 00 CRC,  NAK content is  seq 03 00 reason CRC, CRC-16/X-25
// over the bytes after seq, low byte first; seq is the request's (low two bits). Reason 1 asks
// for the frame again, reason 2 refuses it. A frame with a bad CRC (or too short to hold a code)
// gets NAK reason 1.
//
// Session rules:
//   - UNLOCK is always acknowledged and starts a new session: nothing selected, version not yet
//     accepted, not closed.
//   - VERSION is acknowledged only after UNLOCK and only for 0x120; any other word is refused
//     (reason 2) and leaves the session without an accepted version.
//   - CLOSE is always acknowledged; afterwards only UNLOCK, CLOSE and GO are accepted.
//   - GO is acknowledged once the version was accepted: the handset boots the new image
//     (Started()), and its agent comes back locked, flash kept.
//   - Every other request is refused until UNLOCK and VERSION have been accepted.
//   - INIT_PARTITION .. INIT_AMSS select their area for ERASE and WRITE; FS_FORMAT (clears the
//     file system) and FS_INIT (keeps it, or creates an empty one) select the file system for
//     ERASE and FS_WRITE. WRITE needs a code area selected, FS_WRITE the file system.
//   - ERASE_ALL_NAND clears every area, the backup area included; ERASE_NAND_EXCEPT_BACKUP
//     clears all but the backup area. Both drop the file system; neither changes the selection.
//   - SECURITY_MODE and END_IMAGE are acknowledged.
//   - Unknown codes, wrong body lengths, lengths out of range and ranges past the 32-bit
//     address space are refused (reason 2).
// The log (Requests()) holds every frame received, with what became of it and the sequence
// byte its reply carried.
#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "link/frame_codec.h"
#include "sim/sim_fault.h"
#include "sim/sim_flash.h"

struct SimOptions {
    std::uint32_t baud =
        0;  // SimHandset: bytes move at baud/10 per second; 0 = as fast as they can
    std::chrono::microseconds eraseLatencyPerBlock{0};    // ERASE, per 16 KiB erased
    std::chrono::microseconds eraseLatencyPerRequest{0};  // ERASE, ERASE_ALL_NAND,
                                                          // ERASE_NAND_EXCEPT_BACKUP, FS_FORMAT
    std::chrono::microseconds programLatencyPerBlock{0};  // WRITE and FS_WRITE
    std::chrono::microseconds replyLatency{0};            // every reply
    std::vector<SimFault> faults;
    std::uint32_t seed = 0x5EED;  // line noise of the garbage fault
};

// What became of a request.
enum class SimReply {
    Ack,
    NakResend,   // reason 1: a bad CRC, or the nak-resend fault
    NakRefused,  // reason 2: refused by the agent or by the refuse fault
    CorruptCrc,  // carried out, reply sent with a spoilt CRC
    Dropped,     // carried out, no reply
    Silent,      // not answered: the handset has gone silent
    Unplugged,   // the line went away at this request
    WrongSeq,    // carried out, answered under another sequence number
};

struct SimRequest {
    std::uint8_t seq = 0;  // sequence byte as received
    int code = -1;         // command code byte; -1 when the frame held none
    bool crcOk = false;
    std::uint32_t address = 0;   // ERASE, WRITE, FS_WRITE, area requests
    std::uint32_t length = 0;    // ERASE length, the length field of WRITE/FS_WRITE/area requests
    std::uint32_t version = 0;   // VERSION
    std::size_t dataSize = 0;    // data bytes carried by WRITE/FS_WRITE
    std::uint64_t bodyHash = 0;  // SIM_BodyHash of the code and arguments: a request sent
                                 // again has the same
    SimReply reply = SimReply::Ack;
    std::uint8_t replySeq = 0;  // the sequence byte the reply carried (when one was sent)
};

// A hash of a request's code and arguments (a frame's content without its sequence byte and
// CRC), to tell requests apart in the log.
std::uint64_t SIM_BodyHash(std::span<const std::uint8_t> body);

// One reply (or the absence of one) in the order the line should carry it.
struct SimOutput {
    std::chrono::microseconds delay{0};  // how long the handset works before sending
    std::vector<std::uint8_t> bytes;     // noise and the reply frame; empty for none
    bool unplug = false;                 // the line goes away instead
};

class SimAgent {
public:
    explicit SimAgent(SimOptions options = {});

    // Feeds received bytes; appends one output per complete frame.
    void Feed(std::span<const std::uint8_t> in, std::vector<SimOutput>& out);
    // The same, with the outputs' bytes put together and their delays ignored.
    std::vector<std::uint8_t> OnBytes(std::span<const std::uint8_t> in);
    // The line was interrupted (the station closed its port): a half-received frame is dropped.
    void ResetLine() { assembler_->Reset(); }

    const std::vector<SimRequest>& Requests() const { return requests_; }
    SimFlash& Flash() { return flash_; }
    const SimFlash& Flash() const { return flash_; }
    bool Started() const { return goCount_ > 0; }
    int GoCount() const { return goCount_; }
    bool SecurityModeRequested() const { return securityMode_; }
    bool Silent() const { return silent_; }
    bool Unplugged() const { return unplugged_; }
    std::uint64_t BytesReceived() const { return bytesReceived_; }

private:
    SimOutput OnFrame(std::span<const std::uint8_t> frame);
    // Fills the request's fields from its body; false when the body is malformed.
    static bool Decode(std::span<const std::uint8_t> body, SimRequest& record);
    // Carries a decoded request out; returns the NAK reason, or 0 for an acknowledge. work
    // receives how long the flash is busy with it.
    int Execute(std::span<const std::uint8_t> body, bool wellFormed, const SimRequest& record,
                std::chrono::microseconds& work);
    void AppendReply(std::uint8_t seq, bool ack, std::uint8_t reason, bool corruptCrc,
                     std::vector<std::uint8_t>& out) const;
    void AppendGarbage(int count, std::vector<std::uint8_t>& out);

    SimOptions options_;
    std::unique_ptr<FrameAssembler> assembler_;
    SimFlash flash_;
    std::vector<SimRequest> requests_;
    std::array<int, 256> codeCount_{};
    int anyCount_ = 0;
    std::uint32_t noise_ = 0;

    bool unlocked_ = false;
    bool versionOk_ = false;
    bool closed_ = false;
    int target_ = -1;  // selected area key; -1 none
    bool securityMode_ = false;
    int goCount_ = 0;
    bool silent_ = false;
    bool unplugged_ = false;
    std::uint64_t bytesReceived_ = 0;
    std::vector<std::uint8_t> held_;  // replies held back, written before the next one
    // Requests to be asked for again when they come back (nak-resend with a count).
    struct Repeat {
        std::vector<std::uint8_t> body;
        int remaining = 0;
    };
    std::vector<Repeat> repeats_;
};
