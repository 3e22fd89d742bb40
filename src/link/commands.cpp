#include "link/commands.h"

#include <algorithm>
#include <cstring>

#include "link/flash_downloader.h"
#include "link/station_links.h"
#include "link/status_reporter.h"
#include "transport/serial_port.h"

namespace {

std::span<std::uint8_t> Data(int channel) {
    return FLASH_DOWNLOADER_CurrentBuffer(channel).data;
}

// Takes the next buffer and puts the code at its start; returns the end index. A new request
// never overtakes a frame the handset asked for again: those go out first, from their own
// buffers, while the link is sound.
int Begin(int channel, int commandIndex) {
    const FlashLink& fn = FN[channel];
    if (fn.pendingCount > 0 && fn.errorCount == 0 && fn.sendFailed == 0) {
        FLASH_DOWNLOADER_Resend(channel);
    }
    FLASH_DOWNLOADER_NewBuffer(channel);
    TxBuffer& b = FLASH_DOWNLOADER_CurrentBuffer(channel);
    b.end = b.start;
    b.end = REQ_PutCode(channel, b.end, commandIndex);
    return b.end;
}

void Finish(int channel, int end) {
    TxBuffer& b = FLASH_DOWNLOADER_CurrentBuffer(channel);
    b.end = end;
    FLASH_DOWNLOADER_Send(channel, b.data, b.start, b.end);
}

// Requests without arguments: the count the request went out under, or -1 when it did not go
// out whole. Frames the handset asked for again go out first (Begin), under earlier counts.
int SendPlain(int channel, int commandIndex) {
    const int end = Begin(channel, commandIndex);
    TxBuffer& b = FLASH_DOWNLOADER_CurrentBuffer(channel);
    b.end = end;
    const int count = FN[channel].sentCount;
    return FLASH_DOWNLOADER_Send(channel, b.data, b.start, b.end) ? count : -1;
}

// What is known of a final request's answer: settled once nothing more can be learned (an
// acknowledge, a refusal, the resend limit, or a reply spoilt on the line); not while its last
// sending is unanswered or a resend of it is pending.
struct FinalState {
    FinalAnswer answer = FinalAnswer::None;
    bool settled = false;
};

FinalState Final(int channel, int sentAs) {
    if (sentAs < 0) return {FinalAnswer::NotSent, true};
    switch (FLASH_DOWNLOADER_Answer(channel, sentAs)) {
        case FrameAnswer::Ack:
            return {FinalAnswer::Acknowledged, true};
        case FrameAnswer::Refused:
            return {FinalAnswer::Refused, true};
        case FrameAnswer::Resend:
            if (FN[channel].gaveUpOn == sentAs) return {FinalAnswer::AskedAgain, true};
            return {};
        case FrameAnswer::Unsent:  // asked for again, and the resend could not go out
            return {FinalAnswer::NotSent, true};
        case FrameAnswer::Bad:  // spoilt on the line: says nothing about the request
            return {FinalAnswer::None, true};
        case FrameAnswer::None:
            break;
    }
    return {};
}

// Area requests: the code, address 0 and length 1.
int SendArea(int channel, int commandIndex, std::uint32_t address, int length) {
    if (length < 1 || length > kBlockSize) return 0;
    int end = Begin(channel, commandIndex);
    end = REQ_PutU32(channel, end, address);
    end = REQ_PutU16(channel, end, static_cast<std::uint32_t>(length));
    Finish(channel, end);
    return 1;
}

int SendErase(int channel, std::uint32_t address, std::int32_t length) {
    if (length < kBlockSize) return 0;
    int end = Begin(channel, CMD_ERASE);
    end = REQ_PutU32(channel, end, address);
    end = REQ_PutU32(channel, end, static_cast<std::uint32_t>(length));
    Finish(channel, end);
    return 1;
}

int SendVersion(int channel, std::uint32_t version) {
    int end = Begin(channel, CMD_VERSION);
    end = REQ_PutU32(channel, end, version);
    Finish(channel, end);
    return 1;
}

int Exchange(int channel, int passes) {
    if (FLASH_DOWNLOADER_WaitAllAcked(channel, passes)) return 1;
    FLASH_DOWNLOADER_Close(channel);
    return 0;
}

int AreaWait(int commandIndex) {
    switch (commandIndex) {
        case CMD_ERASE_ALL_NAND:
        case CMD_ERASE_NAND_EXCEPT_BACKUP:
            return kWaitErase;
        default:
            return kWaitArea;
    }
}

}  // namespace

std::uint8_t FLASH_DOWNLOADER_GetCode(int index) {
    if (index < 0 || index >= kCommandCount) return 0xFF;
    return kCommandCodes[index];
}

int REQ_PutCode(int channel, int position, int index) {
    Data(channel)[position] = FLASH_DOWNLOADER_GetCode(index);
    return position + 1;
}

int REQ_PutU32(int channel, int position, std::uint32_t value) {
    auto data = Data(channel);
    for (int i = 0; i < 4; ++i) data[position + i] = static_cast<std::uint8_t>(value >> (8 * i));
    return position + 4;
}

int REQ_PutU16(int channel, int position, std::uint32_t value) {
    auto data = Data(channel);
    data[position] = static_cast<std::uint8_t>(value);
    data[position + 1] = static_cast<std::uint8_t>(value >> 8);
    return position + 2;
}

int REQ_PutData(int channel, int position, std::span<const std::uint8_t> data, int n) {
    if (n <= 0) return position;
    auto out = Data(channel);
    const std::size_t count = std::min<std::size_t>(static_cast<std::size_t>(n), data.size());
    std::memcpy(out.data() + position, data.data(), count);
    return position + n;
}

int FLASH_DOWNLOADER_Write(int channel, std::uint32_t address, int length,
                           std::span<const std::uint8_t> data) {
    if (length < 1 || length > kBlockSize || data.size() < static_cast<std::size_t>(length))
        return 0;
    int end = Begin(channel, CMD_WRITE);
    end = REQ_PutU32(channel, end, address);
    end = REQ_PutU16(channel, end, static_cast<std::uint32_t>(length));
    end = REQ_PutCode(channel, end, CMD_WRITE);
    end = REQ_PutData(channel, end, data, length);
    Finish(channel, end);
    return 1;
}

int FLASH_DOWNLOADER_FsWrite(int channel, std::uint32_t address, int length,
                             std::span<const std::uint8_t> data) {
    if (length < 1 || length > kBlockSize || data.size() < static_cast<std::size_t>(length))
        return 0;
    int end = Begin(channel, CMD_FS_WRITE);
    end = REQ_PutU32(channel, end, address);
    end = REQ_PutU16(channel, end, static_cast<std::uint32_t>(length));
    end = REQ_PutData(channel, end, data, length);
    Finish(channel, end);
    return 1;
}

int FLASH_DOWNLOADER_Go(int channel) {
    FN[channel].goSentAs = SendPlain(channel, CMD_GO);
    return FN[channel].goSentAs >= 0 ? 1 : 0;
}

int FLASH_DOWNLOADER_Unlock(int channel) {
    FLASH_DOWNLOADER_Reset(channel);
    SendPlain(channel, CMD_UNLOCK);
    return Exchange(channel, kWaitShort);
}

int FLASH_DOWNLOADER_Version(int channel, std::uint32_t version) {
    SendVersion(channel, version);
    return Exchange(channel, kWaitShort);
}

int FLASH_DOWNLOADER_Erase(int channel, std::uint32_t address, std::int32_t length) {
    LINK_ChannelPrintf(channel, "Erasing...");
    SendErase(channel, address, length);
    return Exchange(channel, kWaitErase);
}

int FLASH_DOWNLOADER_Area(int channel, int commandIndex) {
    SendArea(channel, commandIndex, 0, 1);
    return Exchange(channel, AreaWait(commandIndex));
}

int FLASH_DOWNLOADER_FsPrepare(int channel) {
    SendPlain(channel, LINK_Format() == 1 ? CMD_FS_FORMAT : CMD_FS_INIT);
    return Exchange(channel, kWaitErase);
}

int FLASH_DOWNLOADER_EndImage(int channel) {
    SendPlain(channel, CMD_END_IMAGE);
    return Exchange(channel, kWaitShort);
}

int FLASH_DOWNLOADER_Settle(int channel) {
    return Exchange(channel, kWaitShort);
}

int FLASH_DOWNLOADER_Close(int channel) {
    FlashLink& fn = FN[channel];
    int allAnswered = 0;
    if (fn.sendFailed == 0) {
        FLASH_DOWNLOADER_Resend(channel);
        if (FLASH_DOWNLOADER_WaitAllAcked(channel, kWaitShort) &&
            FLASH_DOWNLOADER_Unconfirmed(channel) == 0) {
            // Every content sent was acknowledged after its last sending.
            allAnswered = 1;
        } else {
            fn.sendFailed = 1;
        }
    }
    fn.closeSentAs = SendPlain(channel, CMD_CLOSE);
    // A CLOSE that never went out does not close anything.
    return allAnswered && fn.closeSentAs >= 0 ? 1 : 0;
}

FinalAnswer FLASH_DOWNLOADER_WaitFinalAnswer(int channel, int sentAs, std::int64_t& graceUs) {
    FlashLink& fn = FN[channel];
    for (;;) {
        SERIAL_PORT_DoReading(channel);
        // A line glitch on CLOSE or GO is mended as on any other request, as often as the
        // handset asks (up to the resend limit) within the grace.
        if (fn.pendingCount > 0 && fn.sendFailed == 0) FLASH_DOWNLOADER_Resend(channel);
        const FinalState state = Final(channel, sentAs);
        if (state.settled || graceUs <= 0) return state.answer;
        if (g_bChannelActive[channel].load(std::memory_order_relaxed) == 0) return state.answer;
        if (SERIAL_PORT_IsGone(channel)) return state.answer;
        graceUs -= SERIAL_PORT_WaitPass(channel, graceUs);
    }
}
