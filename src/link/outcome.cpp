#include "link/outcome.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "link/flash_downloader.h"
#include "link/station_links.h"
#include "transport/serial_port.h"

namespace {

std::string Hex(int byte) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", byte & 0xFF);
    return text;
}

}  // namespace

const char* OUTCOME_StepName(JobStep step) {
    switch (step) {
        case JobStep::None:
            return "";
        case JobStep::Start:
            return "start";
        case JobStep::Open:
            return "open";
        case JobStep::Unlock:
            return "unlock";
        case JobStep::Version:
            return "version";
        case JobStep::Selection:
            return "selection";
        case JobStep::Erase:
            return "erase";
        case JobStep::Block:
            return "block";
        case JobStep::EndImage:
            return "end of image";
        case JobStep::Close:
            return "close";
        case JobStep::Go:
            return "go";
        case JobStep::Write:
            return "write";
    }
    return "";
}

const char* OUTCOME_ReasonName(JobReason reason) {
    switch (reason) {
        case JobReason::None:
            return "";
        case JobReason::TimeOut:
            return "time-out";
        case JobReason::Refused:
            return "refused";
        case JobReason::BadReply:
            return "bad reply";
        case JobReason::LinkError:
            return "link error";
        case JobReason::OutOfOrder:
            return "reply out of order";
        case JobReason::ResendLimit:
            return "resend limit";
        case JobReason::WriteFailed:
            return "write failed";
        case JobReason::PortGone:
            return "port gone";
        case JobReason::Stopped:
            return "stopped";
        case JobReason::File:
            return "file";
        case JobReason::Port:
            return "port";
        case JobReason::System:
            return "system";
    }
    return "";
}

std::string OUTCOME_Describe(const JobOutcome& outcome) {
    if (!outcome.Failed()) return "ok";
    std::string text = OUTCOME_StepName(outcome.step);
    if (outcome.slot >= 0) text += " of slot " + std::to_string(outcome.slot);
    text += ": ";
    text += OUTCOME_ReasonName(outcome.reason);
    if (!outcome.detail.empty()) text += " (" + outcome.detail + ")";
    if (outcome.code != 0) text += " [code " + std::to_string(outcome.code) + "]";
    return text;
}

void OUTCOME_Clear(int channel) {
    if (!IsChannel(channel)) return;
    LinkChannel& link = LINK_Channel(channel);
    std::lock_guard lock(link.outcomeLock);
    link.outcome = JobOutcome{};
}

void OUTCOME_Record(int channel, const JobOutcome& outcome) {
    if (!IsChannel(channel) || !outcome.Failed()) return;
    LinkChannel& link = LINK_Channel(channel);
    std::lock_guard lock(link.outcomeLock);
    if (link.outcome.Failed()) return;
    link.outcome = outcome;
}

void OUTCOME_Record(int channel, JobStep step, JobReason reason, int slot, std::string detail,
                    int code) {
    JobOutcome outcome;
    outcome.step = step;
    outcome.reason = reason;
    outcome.slot = slot;
    outcome.code = code;
    outcome.detail = std::move(detail);
    OUTCOME_Record(channel, outcome);
}

void OUTCOME_RecordLink(int channel, JobStep step, int slot, const char* timeOutDetail) {
    if (!IsChannel(channel)) return;
    const FlashLink& fn = FN[channel];
    JobOutcome outcome;
    outcome.step = step;
    outcome.slot = slot;
    if (SERIAL_PORT_IsGone(channel)) {
        outcome.reason = JobReason::PortGone;
        outcome.detail = "the port went away";
    } else if (g_bChannelActive[channel].load(std::memory_order_relaxed) == 0) {
        outcome.reason = JobReason::Stopped;
        outcome.detail = "the channel was stopped";
    } else if (fn.writeFailed) {
        outcome.step = JobStep::Write;
        outcome.reason = JobReason::WriteFailed;
        outcome.code = fn.writeError;
        outcome.detail = fn.writeError != 0 ? std::strerror(fn.writeError)
                                            : "the port took only part of a frame";
    } else if (fn.fault == LinkFault::Refused) {
        outcome.reason = JobReason::Refused;
        outcome.refusal = fn.refusal;
        outcome.detail = "NAK " + Hex(fn.refusal);
    } else if (fn.fault == LinkFault::BadReply) {
        outcome.reason = JobReason::BadReply;
        outcome.detail = "reply code " + Hex(fn.badReply);
    } else if (fn.fault == LinkFault::OutOfOrder) {
        outcome.reason = JobReason::OutOfOrder;
        outcome.detail = "a reply under another sequence number than its frame's";
    } else if (fn.fault == LinkFault::ResendLimit) {
        outcome.reason = JobReason::ResendLimit;
        outcome.detail = "a request asked for again more than " + std::to_string(kResendLimit) +
                         " times in a row";
    } else if (fn.fault != LinkFault::None || fn.spoilt > 0 || fn.errorCount > 0) {
        outcome.reason = JobReason::LinkError;
        outcome.detail = std::to_string(fn.spoilt) + " frames spoilt or lost";
    } else {
        outcome.reason = JobReason::TimeOut;
        const int n = fn.unconfirmedCount;
        outcome.detail = timeOutDetail != nullptr ? timeOutDetail
                         : n > 0 ? std::to_string(n) + (n == 1 ? " request" : " requests") +
                                       " not acknowledged in time"
                                 : "no answer in time";
    }
    OUTCOME_Record(channel, outcome);
}

void OUTCOME_RecordOpen(int channel, const SerialOpenFailure& failure) {
    JobOutcome outcome;
    outcome.step = JobStep::Open;
    outcome.reason = JobReason::Port;
    outcome.code = failure.code;
    outcome.openStage = static_cast<int>(failure.stage);
    outcome.detail = failure.reason;
    OUTCOME_Record(channel, outcome);
}

JobOutcome OUTCOME_Get(int channel) {
    if (!IsChannel(channel)) return {};
    const LinkChannel& link = LINK_Channel(channel);
    std::lock_guard lock(link.outcomeLock);
    return link.outcome;
}
