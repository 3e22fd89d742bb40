#include "link/frame.h"

#include <array>
#include <cerrno>

#include "link/flash_downloader.h"
#include "link/frame_codec.h"
#include "link/station_links.h"
#include "transport/channels.h"
#include "transport/serial_port.h"

namespace {

// The channel's receive sink: what the pump read goes through the assembler.
int AssembleReceived(int channel, std::span<const std::uint8_t> bytes) {
    return FRAME_Assemble(channel, bytes, 0, static_cast<int>(bytes.size()));
}

}  // namespace

void FRAME_Reset(int channel) {
    if (!IsChannel(channel)) return;
    LINK_Channel(channel).staging.count = 0;
    LINK_Channel(channel).assembler.Reset();
    SERIAL_PORT_SetReceiveSink(channel, &AssembleReceived);
}

int FRAME_PutByte(int channel, std::uint8_t byte) {
    Staging& s = LINK_Channel(channel).staging;
    s.area[s.count++] = byte;
    if (s.count >= kStagingFlushSize) return FRAME_Flush(channel);
    return 0;
}

int FRAME_Flush(int channel) {
    Staging& s = LINK_Channel(channel).staging;
    int result = 0;
    // The rest of a frame that already failed is not written: it would reach the handset cut.
    if (s.count > 0 && !s.failed) {
        errno = 0;
        result = SERIAL_PORT_Write(channel, std::span<const std::uint8_t>(s.area.data(), s.count),
                                   0, s.count);
        if (result != s.count && !s.failed) {
            // The handset never got this frame whole: it is not sent.
            s.failed = true;
            s.error = result < 0 ? errno : 0;
        }
    }
    s.count = 0;
    return result;
}

void FRAME_PutEscaped(int channel, std::uint8_t byte) {
    if (byte == kFrameEscape || byte == kFrameFlag) {
        FRAME_PutByte(channel, kFrameEscape);
        FRAME_PutByte(channel, static_cast<std::uint8_t>(byte ^ 0x20));
    } else {
        FRAME_PutByte(channel, byte);
    }
}

namespace {

// The escaping of FRAME_PutEscaped into one staging area, looked up once per frame.
void PutEscapedTo(int channel, Staging& s, std::uint8_t byte) {
    const auto put = [&](std::uint8_t b) {
        s.area[s.count++] = b;
        if (s.count >= kStagingFlushSize) FRAME_Flush(channel);
    };
    if (byte == kFrameEscape || byte == kFrameFlag) {
        put(kFrameEscape);
        put(static_cast<std::uint8_t>(byte ^ 0x20));
    } else {
        put(byte);
    }
}

}  // namespace

void FRAME_PutBytes(int channel, std::span<const std::uint8_t> buffer, int from, int to) {
    Staging& s = LINK_Channel(channel).staging;
    for (int i = from; i < to; ++i) PutEscapedTo(channel, s, buffer[i]);
}

int FRAME_Send(int channel, std::span<const std::uint8_t> buffer, int start, int end) {
    if (!IsChannel(channel)) return 0;
    Staging& s = LINK_Channel(channel).staging;
    s.failed = false;
    s.error = 0;
    FRAME_PutByte(channel, kFrameFlag);
    FRAME_PutBytes(channel, buffer, start, end);
    FRAME_PutByte(channel, kFrameFlag);
    FRAME_Flush(channel);
    return s.failed ? 0 : 1;
}

int FRAME_SendError(int channel) {
    if (!IsChannel(channel)) return 0;
    return LINK_Channel(channel).staging.error;
}

int FRAME_Assemble(int channel, std::span<const std::uint8_t> bytes, int start, int end) {
    if (!IsChannel(channel) || start < 0 || end < start ||
        static_cast<std::size_t>(end) > bytes.size()) {
        return end;
    }
    LINK_Channel(channel).assembler.Feed(
        bytes.subspan(start, end - start), [channel](std::span<const std::uint8_t> frame) {
            FLASH_DOWNLOADER_Receive(channel, frame, 0, static_cast<int>(frame.size()));
        });
    return end;
}

int FRAME_AssemblerState(int channel) {
    return LINK_Channel(channel).assembler.State();
}
int FRAME_AssemblerLength(int channel) {
    return LINK_Channel(channel).assembler.Length();
}
