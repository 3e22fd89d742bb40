#include "link/flash_downloader.h"

#include <atomic>

#include "link/commands.h"
#include "link/crc16.h"
#include "link/frame.h"
#include "link/station_links.h"
#include "transport/serial_port.h"
#include "transport/trace.h"

namespace {

// The reply codes, loaded at link start before any worker runs.
std::atomic<std::uint8_t> g_AckCode{0x02};
std::atomic<std::uint8_t> g_NakCode{0x03};

std::uint8_t Ack() {
    return g_AckCode.load(std::memory_order_relaxed);
}
std::uint8_t Nak() {
    return g_NakCode.load(std::memory_order_relaxed);
}

int Slot(int count) {
    return ((count % kLedgerSize) + kLedgerSize) % kLedgerSize;
}

// A link error: the exchange in progress fails, and every later wait of the job with it.
void RaiseError(FlashLink& fn, LinkFault fault) {
    if (fn.fault == LinkFault::None) fn.fault = fault;
    ++fn.errorCount;
}

bool IsPending(const FlashLink& fn, int sequence) {
    for (int i = 0; i < fn.pendingCount; ++i)
        if ((fn.pending[i] & 3) == sequence) return true;
    return false;
}

// The buffer whose request last went out under count, or nullptr.
TxBuffer* HeldBuffer(LinkData& link, int count) {
    for (TxBuffer& b : link.buffers) {
        if (b.held && b.sentAs == count) return &b;
    }
    return nullptr;
}

LinkObserver* Observer() {
    return LINK_Station().observer.load(std::memory_order_relaxed);
}

void Credit(int channel, FlashLink& fn, int count, FrameAnswer answer) {
    if (count >= fn.sentCount) return;
    fn.answer[Slot(count)] = answer;
    if (LinkObserver* observer = Observer()) observer->OnAnswer(channel, count, answer);
}

// The window condition, tested after the frame being sent has been counted: at most three
// unanswered frames, and the sequence number the next frame will take was last acknowledged.
bool WindowOpen(int channel) {
    FlashLink& fn = FN[channel];
    const int next = fn.sentCount & 3;
    if (fn.slotState[next] == Nak() && IsPending(fn, next)) {
        // The handset asked for that frame again: it has answered it, and its content will go
        // out again under a new number, so the number is free.
        fn.slotState[next] = Ack();
    }
    return (fn.sentCount - fn.replyCount) < 4 && fn.slotState[next] == Ack();
}

bool AllAnswered(int channel) {
    const FlashLink& fn = FN[channel];
    return fn.sentCount == fn.replyCount && fn.pendingCount == 0;
}

// Ledger: a content goes out for the first time. CLOSE and GO end the job and carry nothing
// to confirm; their answers are read after them, within a grace of their own.
void LedgerAdd(FlashLink& fn, int count, std::uint8_t code) {
    fn.content[Slot(count)] = count;
    fn.answer[Slot(count)] = FrameAnswer::None;
    if (code == FLASH_DOWNLOADER_GetCode(CMD_CLOSE) || code == FLASH_DOWNLOADER_GetCode(CMD_GO)) {
        return;
    }
    if (fn.unconfirmedCount == static_cast<int>(fn.unconfirmed.size())) {
        // More unconfirmed contents than a sound link can ever have: never forget one.
        RaiseError(fn, LinkFault::NotHeld);
        return;
    }
    fn.unconfirmed[fn.unconfirmedCount++] = count;
}

// Ledger: the frame sent under count was acknowledged; its content is confirmed.
void LedgerConfirm(FlashLink& fn, int count) {
    const int content = fn.content[Slot(count)];
    for (int i = 0; i < fn.unconfirmedCount; ++i) {
        if (fn.unconfirmed[i] != content) continue;
        for (int j = i + 1; j < fn.unconfirmedCount; ++j) fn.unconfirmed[j - 1] = fn.unconfirmed[j];
        --fn.unconfirmedCount;
        return;
    }
}

// Removes and returns the oldest pending resend, or -1.
int TakePending(FlashLink& fn) {
    if (fn.pendingCount == 0) return -1;
    const int count = fn.pending[0];
    for (int i = 1; i < fn.pendingCount; ++i) fn.pending[i - 1] = fn.pending[i];
    --fn.pendingCount;
    if (fn.pendingCount == 0) fn.error_no = -1;
    return count;
}

bool Active(int channel) {
    return g_bChannelActive[channel].load(std::memory_order_relaxed) != 0;
}

}  // namespace

void FLASH_DOWNLOADER_LinkStart(int channel) {
    if (!IsChannel(channel)) return;
    LINK_Channel(channel).link.bufferCounter = 0;
    LINK_Channel(channel).link.current = 0;
    LINK_Channel(channel).link.headerLength = 0;
    FLASH_DOWNLOADER_Init(channel);
}

void FLASH_DOWNLOADER_Init(int channel) {
    if (!IsChannel(channel)) return;
    g_AckCode = FLASH_DOWNLOADER_GetCode(CMD_ACK);
    g_NakCode = FLASH_DOWNLOADER_GetCode(CMD_NAK);
    LINK_Channel(channel).link.headerLength = 1;
    LINK_Channel(channel).link.lastOtherReply = 0;
    FLASH_DOWNLOADER_Reset(channel);
}

void FLASH_DOWNLOADER_Reset(int channel) {
    if (!IsChannel(channel)) return;
    FlashLink& fn = FN[channel];
    fn.sentCount = fn.replyCount;
    fn.error_no = -1;
    fn.errorCount = 0;
    fn.sendFailed = 0;
    fn.slotState.fill(Ack());
    fn.pendingCount = 0;
    fn.unconfirmedCount = 0;
    fn.answer.fill(FrameAnswer::None);
    fn.closeSentAs = -1;
    fn.goSentAs = -1;
    fn.fault = LinkFault::None;
    fn.gaveUpOn = -1;
    fn.refusal = -1;
    fn.badReply = -1;
    fn.spoilt = 0;
    fn.writeFailed = false;
    fn.writeError = 0;
    // Nothing from an earlier job is waiting for an answer.
    for (TxBuffer& b : LINK_Channel(channel).link.buffers) {
        b.held = false;
        b.asked = 0;
    }
}

void FLASH_DOWNLOADER_NewBuffer(int channel) {
    LinkData& link = LINK_Channel(channel).link;
    FlashLink& fn = FN[channel];
    // Never the buffer of a request that is unanswered or waiting to be sent again. With at most
    // three frames unanswered (and resends sent before any new request) the next in turn is free
    // on a sound link; a buffer further on is taken only after resends.
    int skip = 0;
    while (skip < kTxBuffers && link.buffers[(link.bufferCounter + skip) & 3].held) ++skip;
    if (skip == kTxBuffers) {
        // Every buffer holds a request the handset has not taken: one of them must be given up.
        // On a link that has already failed nothing will be resent; else this is a link error.
        skip = 0;
        if (fn.errorCount == 0 && fn.sendFailed == 0) {
            DBG_Trace("FLASH_DOWNLOADER_NewBuffer() all buffers held\n");
            RaiseError(fn, LinkFault::NotHeld);
            ++fn.spoilt;
        }
    }
    link.bufferCounter += skip;
    link.current = link.bufferCounter & 3;
    ++link.bufferCounter;
    TxBuffer& b = link.buffers[link.current];
    b.start = link.headerLength;
    b.held = false;
    b.asked = 0;
    b.content = -1;
}

TxBuffer& FLASH_DOWNLOADER_CurrentBuffer(int channel) {
    LinkData& link = LINK_Channel(channel).link;
    return link.buffers[link.current];
}

int FLASH_DOWNLOADER_HeaderLength(int channel) {
    return LINK_Channel(channel).link.headerLength;
}

namespace {

// The transmit buffer whose data area is data, or nullptr (a request built elsewhere).
TxBuffer* BufferOf(int channel, std::span<std::uint8_t> data) {
    for (TxBuffer& b : LINK_Channel(channel).link.buffers) {
        if (data.data() == b.data.data()) return &b;
    }
    return nullptr;
}

// Numbers, checksums and sends one frame whose content first went out under contentCount (the
// frame's own count for a new request).
int SendNumbered(int channel, std::span<std::uint8_t> data, int start, int end, bool resend,
                 int contentCount) {
    if (!IsChannel(channel) || start < 0 || end < start || end > kMaxRequestEnd ||
        static_cast<std::size_t>(end) + 2 > data.size()) {
        return 0;
    }
    FlashLink& fn = FN[channel];
    const int count = fn.sentCount;
    data[0] = static_cast<std::uint8_t>(count & 3);
    fn.slotState[count & 3] = 0;
    ++fn.sentCount;
    if (resend) {
        fn.content[Slot(count)] = contentCount;
        fn.answer[Slot(count)] = FrameAnswer::None;
    } else {
        LedgerAdd(fn, count, data[start]);
    }
    if (TxBuffer* buffer = BufferOf(channel, data)) {
        buffer->sentAs = count;
        buffer->content = resend ? contentCount : count;
        buffer->held = true;
    }
    CRC16_Append(data, start, end - start);
    if (!FLASH_DOWNLOADER_WaitWindow(channel, kWindowPasses)) {
        fn.sendFailed = 1;
        fn.answer[Slot(count)] = FrameAnswer::Unsent;
        return 0;
    }
    if (!FRAME_Send(channel, data, 0, end + 2)) {
        // The port did not take the frame whole: the handset never got it.
        fn.sendFailed = 1;
        fn.answer[Slot(count)] = FrameAnswer::Unsent;
        if (!fn.writeFailed) {
            fn.writeFailed = true;
            fn.writeError = FRAME_SendError(channel);
        }
        DBG_Trace("FLASH_DOWNLOADER_Send() frame %d not written whole, error %d\n", count,
                  fn.writeError);
        // A device that went away fails its writes before a read notices: one receive pass
        // tells a port gone from a write refused.
        SERIAL_PORT_DoReading(channel);
        return 0;
    }
    if (LinkObserver* observer = Observer()) {
        observer->OnFrameSent(channel, count, std::span<const std::uint8_t>(data.data(), end + 2));
    }
    return 1;
}

}  // namespace

int FLASH_DOWNLOADER_Send(int channel, std::span<std::uint8_t> data, int start, int end) {
    return SendNumbered(channel, data, start, end, false, 0);
}

bool FLASH_DOWNLOADER_WaitWindow(int channel, int passes) {
    if (WindowOpen(channel)) return true;
    std::int64_t budget = static_cast<std::int64_t>(passes) * 1000;
    while (budget > 0) {
        SERIAL_PORT_DoReading(channel);
        if (WindowOpen(channel)) return true;
        if (!Active(channel) || SERIAL_PORT_IsGone(channel)) return false;
        budget -= SERIAL_PORT_WaitPass(channel, budget);
    }
    return false;
}

bool FLASH_DOWNLOADER_WaitAllAcked(int channel, int passes) {
    if (AllAnswered(channel)) return true;
    std::int64_t budget = static_cast<std::int64_t>(passes) * 1000;
    while (budget > 0) {
        SERIAL_PORT_DoReading(channel);
        if (FN[channel].errorCount > 0) return false;
        if (AllAnswered(channel)) return true;
        // A frame that never went out is never answered.
        if (FN[channel].sendFailed != 0 && FN[channel].pendingCount == 0) return false;
        if (FN[channel].pendingCount > 0 && FN[channel].sendFailed == 0) {
            // The handset asked for frames again (the last blocks of an image, or this
            // exchange's own request): send them, rather than let the exchange fail on a line
            // glitch that the handset itself knows how to mend.
            FLASH_DOWNLOADER_Resend(channel);
            continue;
        }
        if (!Active(channel) || SERIAL_PORT_IsGone(channel)) return false;
        budget -= SERIAL_PORT_WaitPass(channel, budget);
    }
    return false;
}

void FLASH_DOWNLOADER_Resend(int channel) {
    if (!IsChannel(channel)) return;
    FlashLink& fn = FN[channel];
    LinkData& link = LINK_Channel(channel).link;
    // Sending may read replies that ask for more frames again: go on until none is left, or a
    // send fails (then the exchange fails, and nothing pending is reported done).
    for (int asked = TakePending(fn); asked != -1; asked = TakePending(fn)) {
        // Each request stays in its own buffer until it is acknowledged; the buffer in turn for
        // the next new request does not move.
        TxBuffer* b = HeldBuffer(link, asked);
        if (b == nullptr || b->data[0] != (asked & 3)) {
            // The frame is no longer held: nothing can be resent, and the exchange must fail.
            DBG_Trace("FLASH_DOWNLOADER_Resend() frame %d not held\n", asked);
            RaiseError(fn, LinkFault::NotHeld);
            ++fn.spoilt;
            continue;
        }
        // The refused frame's number is answered; its content goes out under the next number.
        if (fn.slotState[asked & 3] == Nak()) fn.slotState[asked & 3] = Ack();
        b->data[0] = static_cast<std::uint8_t>(fn.sentCount & 3);
        if (!SendNumbered(channel, b->data, b->start, b->end, true, b->content)) break;
    }
}

int FLASH_DOWNLOADER_Unconfirmed(int channel) {
    if (!IsChannel(channel)) return 0;
    return FN[channel].unconfirmedCount;
}

FrameAnswer FLASH_DOWNLOADER_Answer(int channel, int contentCount) {
    if (!IsChannel(channel) || contentCount < 0) return FrameAnswer::None;
    const FlashLink& fn = FN[channel];
    // The latest frame that carried this content.
    for (int f = fn.sentCount - 1; f >= contentCount && fn.sentCount - f <= kLedgerSize; --f) {
        if (fn.content[Slot(f)] == contentCount) return fn.answer[Slot(f)];
    }
    return FrameAnswer::None;
}

void FLASH_DOWNLOADER_MarkResend(int channel, int count) {
    if (!IsChannel(channel)) return;
    FlashLink& fn = FN[channel];
    fn.error_no = count;
    if (fn.pendingCount == static_cast<int>(fn.pending.size())) {
        // More frames asked for than the buffers hold: the oldest can no longer be resent.
        DBG_Trace("FLASH_DOWNLOADER_MarkResend() frame %d not held\n", fn.pending[0]);
        TakePending(fn);
        fn.error_no = count;
        RaiseError(fn, LinkFault::NotHeld);
        ++fn.spoilt;
    }
    fn.pending[fn.pendingCount++] = count;
}

void FLASH_DOWNLOADER_Receive(int channel, std::span<const std::uint8_t> frame, int start,
                              int length) {
    if (!IsChannel(channel) || start < 0 || length < 0 ||
        static_cast<std::size_t>(start) + length > frame.size()) {
        return;
    }
    frame = frame.subspan(start, length);
    LinkData& link = LINK_Channel(channel).link;
    FlashLink& fn = FN[channel];
    if (length < link.headerLength + 2) return;
    const int n = fn.replyCount;
    ++fn.replyCount;
    if (frame[0] > 3) {
        Credit(channel, fn, n, FrameAnswer::Bad);
        FLASH_DOWNLOADER_Receive_CRC_error(channel, link.lastOtherReply + 1);
        return;
    }
    if (!CRC16_Check(frame, 1, length - 1)) {
        Credit(channel, fn, n, FrameAnswer::Bad);
        FLASH_DOWNLOADER_Receive_CRC_error(channel, n);
        return;
    }
    const int s = frame[0] & 3;
    if (n >= fn.sentCount || s != (n & 3)) {
        // Replies come in the order of the frames they answer: this one answers another frame
        // than the one it would be counted for (one of them was lost on the way), or no frame
        // at all. Crediting it would confirm a request the handset may never have carried out.
        DBG_Trace("FLASH_DOWNLOADER_Receive() reply %d under sequence %d: out of order\n", n, s);
        Credit(channel, fn, n, FrameAnswer::Bad);
        if (n < fn.sentCount) {
            fn.slotState[n & 3] = Ack();  // answered, if wrongly: the window does not stall on it
            if (TxBuffer* b = HeldBuffer(link, n)) b->held = false;
        }
        RaiseError(fn, LinkFault::OutOfOrder);
        return;
    }
    const std::uint8_t code = frame[link.headerLength];
    TxBuffer* buffer = HeldBuffer(link, n);
    if (code == Ack()) {
        Credit(channel, fn, n, FrameAnswer::Ack);
        fn.slotState[s] = Ack();
        LedgerConfirm(fn, n);
        if (buffer != nullptr) buffer->held = false;  // the handset has taken it
        return;
    }
    if (code == Nak()) {
        const std::uint8_t reason = length > 3 ? frame[3] : 0;
        if (reason == 1) {
            Credit(channel, fn, n, FrameAnswer::Resend);
            fn.slotState[s] = Nak();
            if (buffer != nullptr && ++buffer->asked > kResendLimit) {
                // Asked for again and again: give up rather than hold the channel for ever.
                DBG_Trace("FLASH_DOWNLOADER_Receive() frame %d asked for %d times in a row\n", n,
                          buffer->asked);
                fn.slotState[s] = Ack();
                buffer->held = false;
                fn.gaveUpOn = buffer->content;
                RaiseError(fn, LinkFault::ResendLimit);
                return;
            }
            FLASH_DOWNLOADER_MarkResend(channel, n);
            DBG_Trace("FLASH_DOWNLOADER_Receive() FN.error_no = %d\n", n);
        } else {
            // Refused for good: answered, and nothing goes out again under this number, so it
            // must not hold the window shut for the CLOSE and GO that end the job.
            Credit(channel, fn, n, FrameAnswer::Refused);
            fn.slotState[s] = Ack();
            if (buffer != nullptr) buffer->held = false;
            fn.refusal = reason;
            RaiseError(fn, LinkFault::Refused);
        }
        return;
    }
    Credit(channel, fn, n, FrameAnswer::Bad);
    fn.slotState[s] = Ack();
    if (buffer != nullptr) buffer->held = false;
    link.lastOtherReply = static_cast<std::uint8_t>(n & 3);
    fn.badReply = code;
    RaiseError(fn, LinkFault::BadReply);
}

void FLASH_DOWNLOADER_Receive_CRC_error(int channel, int count) {
    FlashLink& fn = FN[channel];
    FLASH_DOWNLOADER_MarkResend(channel, fn.replyCount);
    DBG_Trace("FLASH_DOWNLOADER_Receive_CRC_error() FN.error_no = %d\n", fn.error_no);
    fn.slotState[count & 3] = Ack();
    ++fn.spoilt;
    RaiseError(fn, LinkFault::Spoilt);
}
