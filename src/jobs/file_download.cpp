#include "jobs/file_download.h"

#include <cstdio>
#include <string>

#include "jobs/status.h"
#include "link/commands.h"
#include "link/flash_downloader.h"
#include "link/image_table.h"
#include "link/image_transfer.h"
#include "link/outcome.h"
#include "transport/serial_port.h"
#include "transport/trace.h"

namespace {

struct SlotStep {
    const char* text;
    int selection;  // command index of the selection exchange
    bool transfer;  // an image follows
    bool endImage;  // END_IMAGE after a successful transfer
};

constexpr std::array<SlotStep, kSlots> kSlotSteps = {{
    {"Erasing All NAND...", CMD_ERASE_ALL_NAND, false, false},
    {"Security Mode", CMD_SECURITY_MODE, false, false},
    {"Init Partition", CMD_INIT_PARTITION, true, true},
    {"Erasing NAND...", CMD_ERASE_NAND_EXCEPT_BACKUP, false, false},
    {"Security Mode", CMD_SECURITY_MODE, false, false},
    {"Init Partition", CMD_INIT_PARTITION, true, true},
    {"Init PBL", CMD_INIT_PBL, true, true},
    {"Init QCSBL Header", CMD_INIT_QCSBL_HEADER, true, false},
    {"Init QCSBL", CMD_INIT_QCSBL, true, true},
    {"Init OEMSBL Header", CMD_INIT_OEMSBL_HEADER, true, false},
    {"Init OEMSBL", CMD_INIT_OEMSBL, true, true},
    {"Init AMSS Header", CMD_INIT_AMSS_HEADER, true, false},
    {"Init AMSS", CMD_INIT_AMSS, true, true},
    {"ORL4 Formating...", -1, true, false},  // FS_FORMAT or FS_INIT
}};

bool IsPartitionSlot(int slot) {
    return slot == 2 || slot == 5;
}

int Selection(int channel, int slot) {
    if (slot == kResourceSlot) return FLASH_DOWNLOADER_FsPrepare(channel);
    return FLASH_DOWNLOADER_Area(channel, kSlotSteps[slot].selection);
}

// Works through the slots; true when every filled slot went through.
bool RunSlots(int channel) {
    for (int slot = 0; slot < kSlots; ++slot) {
        const IMAGE_ENTRY& entry = g_ImageTable[channel][slot];
        if (entry.szPath[0] == '\0') continue;
        STATUS_ChannelPrintf(channel, "%s", JOB_SlotText(slot));
        if (!Selection(channel, slot)) {
            OUTCOME_RecordLink(channel, JobStep::Selection, slot);
            // The bar reads as failed, not as the step still under way.
            std::string step = JOB_SlotText(slot);
            if (step.size() > 3 && step.compare(step.size() - 3, 3, "...") == 0)
                step.resize(step.size() - 3);
            STATUS_ChannelPrintf(channel, "ERR: %s", step.c_str());
            return false;
        }
        if (!kSlotSteps[slot].transfer) continue;
        bool ok = FLASH_DOWNLOADER_DownloadImage(channel, slot) != 0;
        // Every block of the image confirmed (and those asked for again sent again) before
        // END_IMAGE closes it or the next selection moves the handset elsewhere: a block sent
        // again after that would be written into the next image. The resource image, the last,
        // is confirmed by the close procedure.
        if (ok && slot != kResourceSlot && !FLASH_DOWNLOADER_Settle(channel)) {
            OUTCOME_RecordLink(channel, JobStep::Block, slot);
            STATUS_ChannelPrintf(channel, "ERR: [%d,%d]", FN[channel].sendFailed,
                                 FN[channel].errorCount);
            ok = false;
        }
        if (ok && kSlotSteps[slot].endImage && !FLASH_DOWNLOADER_EndImage(channel)) {
            // The handset has not confirmed the image: it is not done.
            OUTCOME_RecordLink(channel, JobStep::EndImage, slot);
            STATUS_ChannelPrintf(channel, "ERR: End Image");
            ok = false;
        }
        if (!ok) {
            if (IsPartitionSlot(slot) && FLASH_DOWNLOADER_FileMissing(channel) == 0) {
                STATUS_Alert(channel, "Partition is changed! Erase All NAND and download again!");
            }
            return false;
        }
    }
    return true;
}

// The handset refused the final CLOSE or GO.
void RecordRefused(int channel, JobStep step) {
    JobOutcome outcome;
    outcome.step = step;
    outcome.reason = JobReason::Refused;
    outcome.refusal = FN[channel].refusal;
    if (outcome.refusal >= 0) {
        char text[16];
        std::snprintf(text, sizeof text, "NAK 0x%02X", outcome.refusal & 0xFF);
        outcome.detail = text;
    }
    OUTCOME_Record(channel, outcome);
}

int Finish(int channel, int result) {
    SERIAL_PORT_Close(channel);
    g_nChannelResult[channel] = result;
    g_nComPort[channel] = 0;
    return result;
}

}  // namespace

const char* JOB_SlotText(int slot) {
    if (slot < 0 || slot >= kSlots) return "";
    if (slot == kResourceSlot) return LINK_Format() == 1 ? "ORL4 Formating..." : "ORL4 Init";
    return kSlotSteps[slot].text;
}

int FileDownload(int channel) {
    if (!IsChannel(channel)) return 0;
    g_nChannelResult[channel] = -1;
    g_nGoAnswered[channel] = -1;
    g_nUnlocked[channel] = 0;
    g_nGoSent[channel] = 0;
    OUTCOME_Clear(channel);
    STATUS_ChannelPrintf(channel, "Download Start");
    SerialOpenFailure failure;
    if (!SERIAL_PORT_Open(channel, &failure)) {
        OUTCOME_RecordOpen(channel, failure);
        STATUS_Printf("SERIAL_DEVICE_Open(COM%d) Failed!", g_nComPort[channel].load());
        STATUS_ChannelPrintf(channel, "ERR: Open");
        g_nChannelResult[channel] = 0;
        g_nComPort[channel] = 0;
        return 0;
    }
    if (!FLASH_DOWNLOADER_Unlock(channel)) {
        OUTCOME_RecordLink(channel, JobStep::Unlock);
        STATUS_ChannelPrintf(channel, "ERR: Unlock");
        return Finish(channel, 0);
    }
    g_nUnlocked[channel] = 1;
    if (!FLASH_DOWNLOADER_Version(channel, DOWNLOADER_VERSION)) {
        OUTCOME_RecordLink(channel, JobStep::Version);
        STATUS_ChannelPrintf(channel, "Downloader Version Incorrect");
        STATUS_Alert(channel, "Downloader Version Incorrect !!!!!!");
        return Finish(channel, 0);
    }
    const bool slotsOk = RunSlots(channel);
    const bool closeOk = FLASH_DOWNLOADER_Close(channel) != 0;
    if (!closeOk) DBG_Trace("FileDownload() => FLASH_DOWNLOADER_Close FALSE\n");
    // A handset that took GO restarts: production mode knows it when it comes back.
    const auto sendGo = [channel] {
        const bool sent = FLASH_DOWNLOADER_Go(channel) != 0;
        g_nGoSent[channel] = sent ? 1 : 0;
        if (!sent) DBG_Trace("FileDownload() => FLASH_DOWNLOADER_Go FALSE\n");
        return sent;
    };
    if (!slotsOk || !closeOk) {
        if (slotsOk) {
            // Blocks the handset never acknowledged (the resource image has no END_IMAGE).
            OUTCOME_RecordLink(channel, JobStep::Close);
            STATUS_ChannelPrintf(channel, "ERR: Close");
        }
        // GO all the same, so that a failed handset restarts.
        sendGo();
        return Finish(channel, 0);
    }
    // CLOSE acknowledged (after as many resends as the handset asks for) before GO goes out: a
    // handset restarts on GO, and its port may go away at once, taking with it any reply not
    // yet read. GO then shares what is left of the grace.
    std::int64_t grace = kFinalGraceUs;
    const FinalAnswer close =
        FLASH_DOWNLOADER_WaitFinalAnswer(channel, FN[channel].closeSentAs, grace);
    if (close != FinalAnswer::Acknowledged) {
        if (close == FinalAnswer::Refused) {
            RecordRefused(channel, JobStep::Close);
        } else {
            // Unanswered, stopped, unplugged, or a reply that was not CLOSE's own.
            OUTCOME_RecordLink(channel, JobStep::Close, -1, "CLOSE not acknowledged");
        }
        STATUS_ChannelPrintf(channel, "ERR: Close");
        // GO all the same, so that the handset restarts; the job has failed.
        sendGo();
        return Finish(channel, 0);
    }
    if (!sendGo()) {
        OUTCOME_RecordLink(channel, JobStep::Go);
        STATUS_ChannelPrintf(channel, "ERR: Go");
        return Finish(channel, 0);
    }
    // The handset has taken the images. GO may go unanswered: the handset may restart, and
    // leave its port, at once; a stop or a port gone now is that restart, not a failure.
    const FinalAnswer go = FLASH_DOWNLOADER_WaitFinalAnswer(channel, FN[channel].goSentAs, grace);
    g_nGoAnswered[channel] = go == FinalAnswer::None ? 0 : 1;
    if (go == FinalAnswer::Refused) {
        RecordRefused(channel, JobStep::Go);
        STATUS_ChannelPrintf(channel, "ERR: Go");
        return Finish(channel, 0);
    }
    if (go == FinalAnswer::AskedAgain || go == FinalAnswer::NotSent) {
        // The handset answered GO, again and again, without taking it, or asked for it again
        // and it could not be sent: it has not started.
        OUTCOME_RecordLink(channel, JobStep::Go);
        STATUS_ChannelPrintf(channel, "ERR: Go");
        return Finish(channel, 0);
    }
    return Finish(channel, 1);
}

int PELOR_ChannelGone(int channel) {
    if (!IsChannel(channel)) return 0;
    // Before the close, so that the job's failure names the port gone, not a stop.
    SERIAL_PORT_MarkGone(channel);
    return PELOR_CloseChannel(channel);
}

int PELOR_CloseChannel(int channel) {
    if (!IsChannel(channel)) return 0;
    g_bChannelActive[channel] = 0;
    SERIAL_PORT_Wake(channel);
    SERIAL_PORT_Close(channel);
    return 1;
}
