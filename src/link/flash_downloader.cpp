#include "link/flash_downloader.h"

#include <atomic>

#include "link/commands.h"
#include "link/crc16.h"
#include "link/frame.h"
#include "transport/serial_port.h"
#include "transport/trace.h"

std::array<FlashLink, kChannels> FN;

namespace {

// Per-channel link data beside FN; touched only by the channel's worker.
struct LinkData {
    int headerLength = 1;
    std::uint8_t lastOtherReply = 0;
    int bufferCounter = 0;
    int current = 0;
    std::array<TxBuffer, kTxBuffers> buffers;
};
std::array<LinkData, kChannels> g_Link;

// The reply codes, loaded at link start before any worker runs.
std::atomic<std::uint8_t> g_AckCode{0x02};
std::atomic<std::uint8_t> g_NakCode{0x03};

std::uint8_t Ack() {
    return g_AckCode.load(std::memory_order_relaxed);
}
std::uint8_t Nak() {
    return g_NakCode.load(std::memory_order_relaxed);
}

// The window condition, tested after the frame being sent has been counted: at most three
// unanswered frames, and the sequence number the next frame will take was last acknowledged.
bool WindowOpen(int channel) {
    FlashLink& fn = FN[channel];
    const int next = fn.sentCount & 3;
    if (fn.slotState[next] == Nak() && fn.error_no != -1 && (fn.error_no & 3) == next) {
        // The handset asked for that frame again: it has answered it, and its content will go
        // out again under a new number, so the number is free.
        fn.slotState[next] = Ack();
    }
    return (fn.sentCount - fn.replyCount) < 4 && fn.slotState[next] == Ack();
}

bool AllAnswered(int channel) {
    const FlashLink& fn = FN[channel];
    return fn.sentCount == fn.replyCount && fn.error_no == -1;
}

bool Active(int channel) {
    return g_bChannelActive[channel].load(std::memory_order_relaxed) != 0;
}

}  // namespace

void FLASH_DOWNLOADER_LinkStart(int channel) {
    if (!IsChannel(channel)) return;
    g_Link[channel].bufferCounter = 0;
    g_Link[channel].current = 0;
    g_Link[channel].headerLength = 0;
    FLASH_DOWNLOADER_Init(channel);
}

void FLASH_DOWNLOADER_Init(int channel) {
    if (!IsChannel(channel)) return;
    g_AckCode = FLASH_DOWNLOADER_GetCode(CMD_ACK);
    g_NakCode = FLASH_DOWNLOADER_GetCode(CMD_NAK);
    g_Link[channel].headerLength = 1;
    g_Link[channel].lastOtherReply = 0;
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
}

void FLASH_DOWNLOADER_NewBuffer(int channel) {
    LinkData& link = g_Link[channel];
    link.current = link.bufferCounter & 3;
    link.buffers[link.current].start = link.headerLength;
    ++link.bufferCounter;
}

TxBuffer& FLASH_DOWNLOADER_CurrentBuffer(int channel) {
    LinkData& link = g_Link[channel];
    return link.buffers[link.current];
}

int FLASH_DOWNLOADER_HeaderLength(int channel) {
    return g_Link[channel].headerLength;
}

void FLASH_DOWNLOADER_Send(int channel, std::span<std::uint8_t> data, int start, int end) {
    if (!IsChannel(channel) || start < 0 || end < start || end > kMaxRequestEnd ||
        static_cast<std::size_t>(end) + 2 > data.size()) {
        return;
    }
    FlashLink& fn = FN[channel];
    const int count = fn.sentCount;
    data[0] = static_cast<std::uint8_t>(count & 3);
    fn.slotState[count & 3] = 0;
    ++fn.sentCount;
    TxBuffer& buffer = FLASH_DOWNLOADER_CurrentBuffer(channel);
    if (data.data() == buffer.data.data()) buffer.sentAs = count;
    CRC16_Append(data, start, end - start);
    if (!FLASH_DOWNLOADER_WaitWindow(channel, kWindowPasses)) {
        fn.sendFailed = 1;
        return;
    }
    FRAME_Send(channel, data, 0, end + 2);
}

bool FLASH_DOWNLOADER_WaitWindow(int channel, int passes) {
    if (WindowOpen(channel)) return true;
    std::int64_t budget = static_cast<std::int64_t>(passes) * 1000;
    while (budget > 0) {
        SERIAL_PORT_DoReading(channel);
        if (WindowOpen(channel)) return true;
        if (!Active(channel)) return false;
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
        if (FN[channel].error_no != -1 && FN[channel].sendFailed == 0) {
            // The handset asked for a frame again (the last blocks of an image, or this
            // exchange's own request): send it, rather than let the exchange fail on a line
            // glitch that the handset itself knows how to mend.
            FLASH_DOWNLOADER_Resend(channel);
            continue;
        }
        if (!Active(channel)) return false;
        budget -= SERIAL_PORT_WaitPass(channel, budget);
    }
    return false;
}

void FLASH_DOWNLOADER_Resend(int channel) {
    if (!IsChannel(channel)) return;
    FlashLink& fn = FN[channel];
    if (fn.error_no == -1) return;
    // Look through the four buffers, from the current one on, for the frame asked for.
    LinkData& link = g_Link[channel];
    bool found = false;
    for (int tries = 0; tries < kTxBuffers; ++tries) {
        const TxBuffer& b = link.buffers[link.current];
        if (b.sentAs == fn.error_no && b.data[0] == (fn.error_no & 3)) {
            found = true;
            break;
        }
        FLASH_DOWNLOADER_NewBuffer(channel);
    }
    const int asked = fn.error_no;
    fn.error_no = -1;
    if (!found) {
        // The frame is no longer held: nothing can be resent, and the exchange must fail.
        DBG_Trace("FLASH_DOWNLOADER_Resend() frame %d not held\n", asked);
        ++fn.errorCount;
        return;
    }
    // The refused frame's number is answered; its content goes out under the next number.
    if (fn.slotState[asked & 3] == Nak()) fn.slotState[asked & 3] = Ack();
    TxBuffer& b = link.buffers[link.current];
    b.data[0] = static_cast<std::uint8_t>(fn.sentCount & 3);
    FLASH_DOWNLOADER_Send(channel, b.data, b.start, b.end);
}

void FLASH_DOWNLOADER_Receive(int channel, std::span<const std::uint8_t> frame, int start,
                              int length) {
    if (!IsChannel(channel) || start < 0 || length < 0 ||
        static_cast<std::size_t>(start) + length > frame.size()) {
        return;
    }
    frame = frame.subspan(start, length);
    LinkData& link = g_Link[channel];
    FlashLink& fn = FN[channel];
    if (length < link.headerLength + 2) return;
    const int n = fn.replyCount;
    ++fn.replyCount;
    if (frame[0] > 3) {
        FLASH_DOWNLOADER_Receive_CRC_error(channel, link.lastOtherReply + 1);
        return;
    }
    if (!CRC16_Check(frame, 1, length - 1)) {
        FLASH_DOWNLOADER_Receive_CRC_error(channel, n);
        return;
    }
    const std::uint8_t code = frame[link.headerLength];
    const int s = frame[0] & 3;
    if (code == Ack()) {
        fn.slotState[s] = Ack();
    } else if (code == Nak()) {
        const std::uint8_t reason = length > 3 ? frame[3] : 0;
        if (reason == 1) {
            fn.slotState[s] = Nak();
            fn.error_no = n;
            DBG_Trace("FLASH_DOWNLOADER_Receive() FN.error_no = %d\n", n);
        } else {
            // Refused for good: answered, and nothing goes out again under this number, so it
            // must not hold the window shut for the CLOSE and GO that end the job.
            fn.slotState[s] = Ack();
            ++fn.errorCount;
        }
    } else {
        fn.slotState[s] = Ack();
        link.lastOtherReply = static_cast<std::uint8_t>(n & 3);
        ++fn.errorCount;
    }
}

void FLASH_DOWNLOADER_Receive_CRC_error(int channel, int count) {
    FlashLink& fn = FN[channel];
    fn.error_no = fn.replyCount;
    DBG_Trace("FLASH_DOWNLOADER_Receive_CRC_error() FN.error_no = %d\n", fn.error_no);
    fn.slotState[count & 3] = Ack();
    ++fn.errorCount;
}
