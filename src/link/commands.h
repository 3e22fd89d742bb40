#pragma once
// The handset command set: the code table, the request field writers, the request builders
// and the exchanges built from them.
#include <array>
#include <cstdint>
#include <span>

// Indices into the command code table; FLASH_DOWNLOADER_GetCode turns them into code bytes.
enum CommandIndex : int {
    CMD_ACK = 0,       // 0x02
    CMD_NAK = 1,       // 0x03
    CMD_ERASE = 2,     // 0xEE address u32, length u32
    CMD_WRITE = 3,     // 0xDD address u32, length u16, 0xDD, data
    CMD_FS_WRITE = 4,  // 0xCC address u32, length u16, data
    CMD_UNUSED_BB = 5,
    CMD_FS_FORMAT = 6,  // 0xF0
    CMD_FS_INIT = 7,    // 0xF1
    CMD_UNUSED_FF = 8,
    CMD_UNUSED_23 = 9,
    CMD_UNUSED_24 = 10,
    CMD_UNLOCK = 11,                    // 0xA0
    CMD_CLOSE = 12,                     // 0xC0
    CMD_GO = 13,                        // 0x0A
    CMD_VERSION = 14,                   // 0x69 version u32
    CMD_INIT_PARTITION = 15,            // 0x70 .. area requests: address u32 = 0, length u16 = 1
    CMD_INIT_PBL = 16,                  // 0x71
    CMD_INIT_QCSBL_HEADER = 17,         // 0x72
    CMD_INIT_QCSBL = 18,                // 0x73
    CMD_INIT_OEMSBL_HEADER = 19,        // 0x74
    CMD_INIT_OEMSBL = 20,               // 0x75
    CMD_INIT_AMSS_HEADER = 21,          // 0x76
    CMD_INIT_AMSS = 22,                 // 0x77
    CMD_END_IMAGE = 23,                 // 0x78
    CMD_ERASE_ALL_NAND = 24,            // 0x79
    CMD_ERASE_NAND_EXCEPT_BACKUP = 25,  // 0x7A
    CMD_SECURITY_MODE = 26,             // 0x7B
    CMD_UNUSED_7C = 27,
    CMD_UNUSED_7D = 28,
};

inline constexpr int kCommandCount = 29;

// The code byte of each table index.
inline constexpr std::array<std::uint8_t, kCommandCount> kCommandCodes = {
    0x02, 0x03, 0xEE, 0xDD, 0xCC, 0xBB, 0xF0, 0xF1, 0xFF, 0x23, 0x24, 0xA0, 0xC0, 0x0A, 0x69,
    0x70, 0x71, 0x72, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7A, 0x7B, 0x7C, 0x7D};
inline constexpr std::uint32_t DOWNLOADER_VERSION = 0x120;
inline constexpr int kBlockSize = 16384;

// Wait counts (passes of at least 1 ms) of the exchanges.
inline constexpr int kWaitShort = 3000;   // UNLOCK, VERSION, END_IMAGE, close procedure
inline constexpr int kWaitArea = 5000;    // INIT_*, SECURITY_MODE
inline constexpr int kWaitErase = 50000;  // ERASE, ERASE_ALL_NAND, ERASE_NAND_EXCEPT_BACKUP, FS_*

// The code byte of a table index; 0xFF for an index outside 0..28.
std::uint8_t FLASH_DOWNLOADER_GetCode(int index);

// Request field writers: append at position in the channel's current transmit buffer and
// return the new end index.
int REQ_PutCode(int channel, int position, int index);
int REQ_PutU32(int channel, int position, std::uint32_t value);
int REQ_PutU16(int channel, int position, std::uint32_t value);
int REQ_PutData(int channel, int position, std::span<const std::uint8_t> data, int n);

// Builders that send without waiting (1 sent, 0 refused by the guard).
int FLASH_DOWNLOADER_Write(int channel, std::uint32_t address, int length,
                           std::span<const std::uint8_t> data);
int FLASH_DOWNLOADER_FsWrite(int channel, std::uint32_t address, int length,
                             std::span<const std::uint8_t> data);
// GO; FN.goSentAs names its own frame (frames asked for again go out before it).
int FLASH_DOWNLOADER_Go(int channel);

// Exchanges: send, then wait until everything is answered; on failure run the close
// procedure and return 0.
int FLASH_DOWNLOADER_Unlock(int channel);
int FLASH_DOWNLOADER_Version(int channel, std::uint32_t version);
int FLASH_DOWNLOADER_Erase(int channel, std::uint32_t address, std::int32_t length);
int FLASH_DOWNLOADER_Area(int channel, int commandIndex);
int FLASH_DOWNLOADER_FsPrepare(int channel);
int FLASH_DOWNLOADER_EndImage(int channel);
// Waits until the handset has acknowledged every request sent, sending again what it asks
// for: an image's last blocks are confirmed before END_IMAGE or the next slot's selection tells
// the handset to close the image or to write elsewhere. On failure runs the close procedure.
// Returns 1 or 0.
int FLASH_DOWNLOADER_Settle(int channel);
// Close procedure: resend what was asked for and wait (unless a send already failed), then
// CLOSE (FN.closeSentAs names its frame). Returns 1 when everything sent was acknowledged and
// CLOSE went out, else 0.
int FLASH_DOWNLOADER_Close(int channel);

// What the handset said to the job's final CLOSE or GO.
enum class FinalAnswer {
    None,  // no answer within the grace (a handset may reset on GO before answering)
    Acknowledged,
    Refused,     // a negative acknowledge
    NotSent,     // the request never went out
    AskedAgain,  // asked for again more often in a row than the resend limit
};
// The grace (microseconds) the job's end has for the answers to its CLOSE and GO together.
inline constexpr std::int64_t kFinalGraceUs = std::int64_t{kWaitShort} * 1000;
// Reads the answer to the final CLOSE or GO that went out under sentAs (-1: it never went out),
// sending it again as often as the handset asks (up to the resend limit). Ends as soon as the
// answer is settled (so a healthy handset adds milliseconds), when graceUs is used up (the wait
// takes its time from it), or when the channel is stopped or its port gone. CLOSE's answer is
// read before GO goes out: a handset restarts on GO, and a port that goes away with it takes
// any reply not yet read along.
FinalAnswer FLASH_DOWNLOADER_WaitFinalAnswer(int channel, int sentAs, std::int64_t& graceUs);
