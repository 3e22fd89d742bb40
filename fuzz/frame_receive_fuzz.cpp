// Bytes from a handset, through the frame assembler into the link's reply handling: nothing may
// overrun, and the link's counters must stay consistent whatever arrives.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "link/commands.h"
#include "link/flash_downloader.h"
#include "link/frame.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr int ch = 0;
    FRAME_Reset(ch);
    FLASH_DOWNLOADER_LinkStart(ch);
    // Pretend a few requests are outstanding so replies have something to answer.
    FN[ch].sentCount = FN[ch].replyCount + 3;
    const int sentBefore = FN[ch].sentCount;
    int repliesBefore = FN[ch].replyCount;
    // Feed in pieces, so frames split across reads are exercised too.
    std::size_t offset = 0;
    while (offset < size) {
        const std::size_t piece = 1 + (data[offset] % 64);
        const std::size_t n = piece < size - offset ? piece : size - offset;
        FRAME_Assemble(ch, std::span<const std::uint8_t>(data + offset, n), 0, static_cast<int>(n));
        offset += n;
        const FlashLink& fn = FN[ch];
        Check(fn.replyCount >= repliesBefore);
        Check(fn.sentCount == sentBefore);
        Check(fn.errorCount >= 0);
        Check(fn.error_no == -1 || (fn.error_no >= 0 && fn.error_no <= fn.replyCount));
        for (std::uint8_t s : fn.slotState) Check(s == 0 || s == 0x02 || s == 0x03);
        Check(FRAME_AssemblerLength(ch) >= 0 && FRAME_AssemblerLength(ch) <= 16400);
        Check(FRAME_AssemblerState(ch) >= 0 && FRAME_AssemblerState(ch) <= 3);
        repliesBefore = fn.replyCount;
    }
    // A resend after any of it must end, sending at most one frame.
    FN[ch].sendFailed = 1;  // no port: keep the send from waiting for window space
    FLASH_DOWNLOADER_Resend(ch);
    Check(FN[ch].error_no == -1);
    return 0;
}
