// Bytes from a handset, through the frame assembler into the link's reply handling: nothing may
// overrun, and the link's counters must stay consistent whatever arrives.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "link/commands.h"
#include "link/flash_downloader.h"
#include "link/frame.h"
#include "link/station_links.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr int ch = 0;
    FRAME_Reset(ch);
    FLASH_DOWNLOADER_LinkStart(ch);
    // Three requests outstanding (no port: they are numbered and recorded, not written), so
    // that replies have something to answer.
    const std::uint8_t block[4] = {1, 2, 3, 4};
    for (int i = 0; i < 3; ++i) FLASH_DOWNLOADER_Write(ch, 0x4000u * i, 4, block);
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
        Check(fn.pendingCount >= 0 && fn.pendingCount <= 4);
        // Done means done: counts that match, nothing to resend and no error can only mean that
        // every request was acknowledged.
        if (fn.sentCount == fn.replyCount && fn.pendingCount == 0 && fn.errorCount == 0) {
            Check(FLASH_DOWNLOADER_Unconfirmed(ch) == 0);
        }
    }
    // A resend after any of it must end (the channel is not active, so a send that finds the
    // window shut gives up at once), leaving nothing pending unless a send failed.
    FLASH_DOWNLOADER_Resend(ch);
    Check(FN[ch].pendingCount == 0 || FN[ch].sendFailed == 1);
    Check((FN[ch].pendingCount == 0) == (FN[ch].error_no == -1));
    return 0;
}
