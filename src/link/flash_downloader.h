#pragma once
// Transmit window and acknowledgement: numbers the request frames, keeps four transmit buffers
// per channel so up to three requests are in flight, matches replies to sequence numbers,
// marks frames for resending, and provides the two waits every exchange rests on.
#include <array>
#include <cstdint>
#include <span>

#include "link/frame_codec.h"
#include "transport/channels.h"

inline constexpr int kTxBuffers = 4;
inline constexpr int kMaxRequestEnd = 16398;  // end index limit: code and arguments end here
inline constexpr int kWindowPasses = 12000;   // a send gives up after this many passes
inline constexpr int kLedgerSize = 64;        // frames remembered for the confirmation ledger
// The same request asked for again more often than this in a row is a link error: a handset
// that asks for ever must not hold its channel until an operator stops it.
inline constexpr int kResendLimit = 8;

// What the handset answered to one frame.
enum class FrameAnswer : std::uint8_t {
    None,     // nothing yet (or the frame is too old to remember)
    Ack,      // acknowledged
    Resend,   // "send that again"
    Refused,  // negative acknowledge for good
    Bad,      // a reply of another code, or one that failed its checks
    Unsent,   // the frame never went out whole (no window space, or the port refused it)
};

// What the first link error since the last reset was.
enum class LinkFault : std::uint8_t {
    None,
    Refused,      // a negative acknowledge for good
    BadReply,     // a reply of another code
    Spoilt,       // a reply that failed its CRC or sequence byte check
    NotHeld,      // a frame asked for again that no buffer holds, or more than the buffers hold
    OutOfOrder,   // a reply under another sequence number than the frame it would answer
    ResendLimit,  // the same request asked for again more than kResendLimit times in a row
};

// Link state of one channel; touched only by its worker thread.
struct FlashLink {
    int sentCount = 0;   // frames numbered so far; next sequence number = sentCount & 3
    int replyCount = 0;  // frames of at least 3 bytes received
    int error_no = -1;   // the last resend marker set (what the trace shows), or -1 when none
                         // is pending
    int errorCount = 0;  // hard link errors since the last reset
    std::array<std::uint8_t, 4> slotState{};  // 0 outstanding, ACK code, or NAK code
    int sendFailed = 0;                       // 1 once a send gave up waiting for window space

    // Every "send that again" not yet carried out, oldest first: the frame count each names.
    // Two such replies can arrive in one read; each must be kept until its frame goes out again.
    // The four transmit buffers bound how many can be honoured.
    std::array<int, 4> pending{};
    int pendingCount = 0;

    // The confirmation ledger: for each frame count (modulo kLedgerSize) the first count under
    // which its content went out, and the contents sent but not yet acknowledged. A job is done
    // only when no content is left unconfirmed.
    std::array<int, kLedgerSize> content{};
    std::array<FrameAnswer, kLedgerSize> answer{};  // what each frame was answered with
    std::array<int, 2 * kLedgerSize> unconfirmed{};
    int unconfirmedCount = 0;

    int closeSentAs = -1;  // the count the last CLOSE went out under, or -1
    int goSentAs = -1;     // the count the last GO went out under, or -1

    // What the link errors since the last reset were, for the job's outcome.
    LinkFault fault = LinkFault::None;  // the first one
    int gaveUpOn = -1;  // the request (its first count) given up at the resend limit, or -1
    int refusal = -1;   // the reason byte of the last negative acknowledge for good, or -1
    int badReply = -1;  // the code of the last reply of another code, or -1
    int spoilt = 0;     // replies that failed their checks, and frames asked for but not held
    // A frame not written whole is not sent (sendFailed is then set too): the system's error
    // code of the failed write, or 0 when the port took only part of it.
    bool writeFailed = false;
    int writeError = 0;
};

// One transmit buffer: data[0] sequence number, data[start] the code, then arguments up to
// data[end - 1], then the CRC at data[end], data[end + 1]. A buffer is held from the first
// sending of its request until the handset acknowledges it (or refuses it, or the link fails):
// a new request is never built in a held buffer, so a frame asked for again is always there.
struct TxBuffer {
    int start = 0;
    int end = 0;
    int sentAs = -1;   // the frame count it last went out under, or -1
    int content = -1;  // the frame count its request first went out under, or -1
    int asked = 0;     // how often in a row the handset asked for its request again
    bool held = false;
    std::array<std::uint8_t, kFrameAreaSize> data{};
};

// Link start for a channel: buffer counter 0, current buffer 0, then FLASH_DOWNLOADER_Init.
void FLASH_DOWNLOADER_LinkStart(int channel);
void FLASH_DOWNLOADER_Init(int channel);
void FLASH_DOWNLOADER_Reset(int channel);
// Makes the next of the four buffers that holds no request still to be acknowledged current,
// start index = header length (1); with a sound link that is always the next in turn. When all
// four are held the link has failed: a link error, unless it had failed already.
void FLASH_DOWNLOADER_NewBuffer(int channel);
TxBuffer& FLASH_DOWNLOADER_CurrentBuffer(int channel);
int FLASH_DOWNLOADER_HeaderLength(int channel);
// Numbers, checksums and sends data (code and arguments in data[start..end-1]). Returns 1 when
// the frame went out whole, 0 when the window did not admit it or the port did not take all of
// it (sendFailed is then set; the frame counts as not sent).
int FLASH_DOWNLOADER_Send(int channel, std::span<std::uint8_t> data, int start, int end);
bool FLASH_DOWNLOADER_WaitWindow(int channel, int passes);
bool FLASH_DOWNLOADER_WaitAllAcked(int channel, int passes);
// Sends again every frame the handset asked for, oldest first, each from the buffer that holds
// it. A frame no longer held in the transmit buffers is a link error.
void FLASH_DOWNLOADER_Resend(int channel);
// Requests sent since the last reset (CLOSE and GO aside) that the handset has not acknowledged
// under any of the counts they went out under.
int FLASH_DOWNLOADER_Unconfirmed(int channel);
// What the handset answered to the content first sent under count, as last sent again.
FrameAnswer FLASH_DOWNLOADER_Answer(int channel, int contentCount);
// Marks a frame for resending, as a "send that again" reply for it does.
void FLASH_DOWNLOADER_MarkResend(int channel, int count);
// One reply: credited to the oldest frame not yet answered, and only when it carries that
// frame's sequence number; a reply under another number (or with nothing outstanding) is a
// link error, never the answer of another frame.
void FLASH_DOWNLOADER_Receive(int channel, std::span<const std::uint8_t> frame, int start,
                              int length);
void FLASH_DOWNLOADER_Receive_CRC_error(int channel, int count);
