#pragma once
// Faults the simulated handset can be told to commit, each aimed at one kind of request and
// one ordinal of it, and their text form for the command line.
//
// Text form:  KIND[:COMMAND[:WHICH[:VALUE]]]
//   KIND     refuse       answer with a negative acknowledge, reason 2 (request not carried out)
//            nak-resend   answer with a negative acknowledge, reason 1: "send that again"
//                         (request not carried out; the repeat, a later ordinal, is accepted);
//                         with VALUE n, the request and its next n-1 repeats are asked for
//                         again: n times in a row
//            corrupt-crc  carry the request out, but spoil the CRC of its reply
//            drop         carry the request out and send no reply at all
//            garbage      send VALUE bytes (default 6) of line noise, never 0x7E, before the reply
//            latency      hold the reply back for VALUE (required: 50ms, 2s, 500us; bare = ms)
//            silent       from this request on, carry out and answer nothing, ever
//            unplug       at this request the line goes away (the pseudo-terminal or the
//                         descriptor is closed); the request is not answered
//            hold         hold the reply back and write it together with the next reply, so
//                         that the station reads both at once (as after a burst of noise)
//            wrong-seq    carry the request out, but answer under another sequence number
//                         (the next one), as a handset that lost count would
//   COMMAND  a request name (WRITE, INIT_PBL, ERASE_NAND_EXCEPT_BACKUP ..., any case), a code
//            byte in hexadecimal (0xDD), or "any" (default)
//   WHICH    n, the n-th request of that command (1-based; with "any", the n-th request of
//            all), or "every" (default)
// Examples: "nak-resend:WRITE:40", "refuse:INIT_PBL:1", "silent" (from the start),
// "silent:VERSION:1", "corrupt-crc:WRITE:3", "drop:WRITE:5", "garbage:any:every",
// "latency:WRITE:10:50ms", "unplug:WRITE:30", "nak-resend:WRITE:7,hold:WRITE:7,nak-resend:WRITE:8"
// (two "send that again" replies read at once), "nak-resend:CLOSE:1:3" (CLOSE asked for again
// three times in a row), "wrong-seq:END_IMAGE:1". A list separates faults with commas.
//
// Ordinals count every request that arrived whole with a sound CRC, whether or not a fault or
// the agent's state refused it; frames with a bad CRC are not counted.
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

enum class SimFaultKind {
    Refuse,
    NakResend,
    CorruptCrc,
    Drop,
    Garbage,
    Latency,
    Silent,
    Unplug,
    Hold,
    WrongSeq
};

inline constexpr int kSimAnyCommand = -1;
inline constexpr int kSimEveryRequest = 0;
inline constexpr int kSimDefaultGarbageBytes = 6;

struct SimFault {
    SimFaultKind kind = SimFaultKind::Refuse;
    int code = kSimAnyCommand;             // request code byte, or any request
    int ordinal = kSimEveryRequest;        // 1-based ordinal among requests of that code, or every
    std::chrono::microseconds latency{0};  // Latency: how long the reply is held back
    int garbageBytes = kSimDefaultGarbageBytes;  // Garbage: bytes of noise before the reply
    int times = 1;  // NakResend: how often in a row the request is asked for again

    // codeOrdinal: the request's ordinal among its code; anyOrdinal: among all requests.
    bool Matches(std::uint8_t requestCode, int codeOrdinal, int anyOrdinal) const {
        if (code != kSimAnyCommand && code != requestCode) return false;
        if (ordinal == kSimEveryRequest) return true;
        return ordinal == (code == kSimAnyCommand ? anyOrdinal : codeOrdinal);
    }
};

// 1 and fault set, or 0 and error set to a sentence naming what is wrong.
int SIM_ParseFault(std::string_view text, SimFault& fault, std::string& error);
// A comma-separated list; appends to faults. 1, or 0 with error (faults then unchanged).
int SIM_ParseFaults(std::string_view list, std::vector<SimFault>& faults, std::string& error);
// The text form of a fault (parses back to the same fault).
std::string SIM_FaultText(const SimFault& fault);
// "50ms", "2s", "500us", "1.5s"; a bare number is milliseconds. 1 parsed, 0 otherwise.
int SIM_ParseDuration(std::string_view text, std::chrono::microseconds& duration);
