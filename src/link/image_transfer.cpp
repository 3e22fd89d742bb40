#include "link/image_transfer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "link/flash_downloader.h"
#include "link/image_table.h"
#include "link/outcome.h"
#include "link/station_links.h"
#include "link/status_reporter.h"
#include "transport/serial_port.h"

namespace {

std::uint32_t Tick() {
    TickFn fn = LINK_Station().tick.load(std::memory_order_relaxed);
    return fn ? fn() : SERIAL_PORT_Clock().TickMs();
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Length of an open file, or -1 when it cannot be learned or does not fit the entry's size.
long long FileLength(std::FILE* f) {
    if (std::fseek(f, 0, SEEK_END) != 0) return -1;
    const long long length = std::ftell(f);
    if (std::fseek(f, 0, SEEK_SET) != 0) return -1;
    if (length < 0 || length > 0x7FFFFFFFLL) return -1;
    return length;
}

}  // namespace

void FLASH_DOWNLOADER_SetTickSource(TickFn fn) {
    LINK_Station().tick = fn;
}

int FLASH_DOWNLOADER_DownloadImage(int channel, int slot) {
    if (!IsChannel(channel) || slot < 0 || slot >= kSlots) return 0;
    IMAGE_ENTRY& e = g_ImageTable[channel][slot];
    e.nChannel = channel;
    const std::uint32_t start = Tick();

    File file(std::fopen(e.szPath, "rb"));
    if (!file) {
        OUTCOME_Record(channel, JobStep::Block, JobReason::File, slot,
                       std::string("cannot open ") + e.szPath, errno);
        LINK_Station().fileMissing = 1;
        LINK_Channel(channel).fileMissing = 1;
        LINK_ChannelPrintf(channel, "ERR: No File");
        return 0;
    }
    const long long length = FileLength(file.get());
    if (length < 0) {
        OUTCOME_Record(channel, JobStep::Block, JobReason::File, slot, "size not learned");
        LINK_ChannelPrintf(channel, "ERR: Image Size");
        return 0;
    }
    e.nSize = static_cast<std::int32_t>(length);

    // The AMSS image is an image of flash from address 0: only its part from the address on
    // is written, to the same addresses as its file offsets.
    if (e.nSlot == kAmssSlot && e.dwAddress != 0) {
        if (static_cast<unsigned long long>(length) <= e.dwAddress) {
            // Nothing of the image lies at or past its address: refuse rather than write nothing.
            OUTCOME_Record(channel, JobStep::Block, JobReason::File, slot,
                           "nothing of the file lies at or past its address");
            LINK_ChannelPrintf(channel, "ERR: Image Size");
            return 0;
        }
        e.nSize = static_cast<std::int32_t>(length - e.dwAddress);
        if (std::fseek(file.get(), static_cast<long>(e.dwAddress), SEEK_SET) != 0) {
            OUTCOME_Record(channel, JobStep::Block, JobReason::File, slot, "seek failed", errno);
            LINK_ChannelPrintf(channel, "ERR: Image Size");
            return 0;
        }
    }

    e.nSent = 0;
    const std::int32_t eraseLength =
        static_cast<std::int32_t>((static_cast<long long>(e.nSize) + 0x3FFF) & ~0x3FFFLL);
    if (!FLASH_DOWNLOADER_Erase(channel, e.dwAddress, eraseLength)) {
        OUTCOME_RecordLink(channel, JobStep::Erase, slot);
        LINK_ChannelPrintf(channel, "ERR: Erase Flash");
        return 0;
    }

    auto& block = LINK_Channel(channel).block;
    const bool fsWrite = (slot == kResourceSlot);
    std::uint32_t address = e.dwAddress;
    int blocks = 0;
    bool ok = false;
    bool readFailed = false;
    for (;;) {
        if (g_bChannelActive[channel].load(std::memory_order_relaxed) == 0) break;
        const std::size_t m = std::fread(block.data(), 1, block.size(), file.get());
        if (m == 0) {
            readFailed = std::ferror(file.get()) != 0;
            ok = !readFailed;
            break;
        }
        // The last block still carries a full length; what lies past the file is erased flash.
        if (m < block.size()) std::memset(block.data() + m, 0xFF, block.size() - m);
        FLASH_DOWNLOADER_Resend(channel);
        if (fsWrite) {
            FLASH_DOWNLOADER_FsWrite(channel, address, kBlockSize, block);
        } else {
            FLASH_DOWNLOADER_Write(channel, address, kBlockSize, block);
        }
        e.nSent += static_cast<std::int32_t>(m);
        ++blocks;
        if (blocks % kProgressEveryBlocks == 0) LINK_Progress(e);
        SERIAL_PORT_DoReading(channel);
        if (FN[channel].sendFailed != 0 || FN[channel].errorCount > 0) break;
        address += kBlockSize;
        if (m != block.size()) {
            readFailed = std::ferror(file.get()) != 0;
            ok = !readFailed;
            break;
        }
    }
    // A file that changed under the transfer is not the image that was measured.
    bool changed = false;
    if (ok && e.nSent != e.nSize) {
        readFailed = true;
        changed = true;
        ok = false;
    }
    const int readError = readFailed && !changed ? errno : 0;
    file.reset();
    const std::uint32_t end = Tick();
    LINK_Progress(e);
    if (ok) {
        LINK_ChannelPrintf(channel, "Download Complete! [%d sec]",
                           static_cast<int>((end - start) / 1000u));
        return 1;
    }
    if (readFailed) {
        OUTCOME_Record(channel, JobStep::Block, JobReason::File, slot,
                       changed ? "the file changed during the transfer" : "read failed", readError);
        LINK_ChannelPrintf(channel, "ERR: Read File");
    } else {
        OUTCOME_RecordLink(channel, JobStep::Block, slot);
        LINK_ChannelPrintf(channel, "ERR: [%d,%d]", FN[channel].sendFailed, FN[channel].errorCount);
    }
    return 0;
}

int FLASH_DOWNLOADER_FileMissing(int channel) {
    if (LINK_Station().fileMissing.load() != 0) return 1;
    return IsChannel(channel) && LINK_Channel(channel).fileMissing.load() != 0 ? 1 : 0;
}

void FLASH_DOWNLOADER_ClearFileMissing(int channel) {
    LINK_Station().fileMissing = 0;
    if (IsChannel(channel)) LINK_Channel(channel).fileMissing = 0;
}
