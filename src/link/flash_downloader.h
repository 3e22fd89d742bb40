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

// Link state of one channel; touched only by its worker thread.
struct FlashLink {
    int sentCount = 0;   // frames numbered so far; next sequence number = sentCount & 3
    int replyCount = 0;  // frames of at least 3 bytes received
    int error_no = -1;   // frame count to send again (its low bits name the frame), or -1
    int errorCount = 0;  // hard link errors since the last reset
    std::array<std::uint8_t, 4> slotState{};  // 0 outstanding, ACK code, or NAK code
    int sendFailed = 0;                       // 1 once a send gave up waiting for window space
};
extern std::array<FlashLink, kChannels> FN;

// One transmit buffer: data[0] sequence number, data[start] the code, then arguments up to
// data[end - 1], then the CRC at data[end], data[end + 1].
struct TxBuffer {
    int start = 0;
    int end = 0;
    int sentAs = -1;  // the frame count it last went out under, or -1
    std::array<std::uint8_t, kFrameAreaSize> data{};
};

// Link start for a channel: buffer counter 0, current buffer 0, then FLASH_DOWNLOADER_Init.
void FLASH_DOWNLOADER_LinkStart(int channel);
void FLASH_DOWNLOADER_Init(int channel);
void FLASH_DOWNLOADER_Reset(int channel);
// Makes the next of the four buffers current, start index = header length (1).
void FLASH_DOWNLOADER_NewBuffer(int channel);
TxBuffer& FLASH_DOWNLOADER_CurrentBuffer(int channel);
int FLASH_DOWNLOADER_HeaderLength(int channel);
// Numbers, checksums and sends data (code and arguments in data[start..end-1]).
void FLASH_DOWNLOADER_Send(int channel, std::span<std::uint8_t> data, int start, int end);
bool FLASH_DOWNLOADER_WaitWindow(int channel, int passes);
bool FLASH_DOWNLOADER_WaitAllAcked(int channel, int passes);
void FLASH_DOWNLOADER_Resend(int channel);
void FLASH_DOWNLOADER_Receive(int channel, std::span<const std::uint8_t> frame, int start,
                              int length);
void FLASH_DOWNLOADER_Receive_CRC_error(int channel, int count);
