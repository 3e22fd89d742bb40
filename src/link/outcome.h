#pragma once
// Why a channel's job failed, recorded where it failed: the step, the reason, the operating
// system's error code where there is one, and a short detail. The bar texts are made alongside;
// nothing decides by reading a bar text.
#include <string>

#include "transport/serial_device.h"

enum class JobStep {
    None,   // the job succeeded (or has not failed yet)
    Start,  // the channel's worker could not be started
    Open,   // opening the port
    Unlock,
    Version,
    Selection,  // a slot's selection request (INIT_*, SECURITY_MODE, ERASE_*NAND, FS_*)
    Erase,      // the erase before an image
    Block,      // an image's blocks (reading the file, sending, their answers)
    EndImage,
    Close,
    Go,
    Write,  // a frame the port did not take whole
};

enum class JobReason {
    None,
    TimeOut,      // no answer within the exchange's passes
    Refused,      // a negative acknowledge; refusal holds its byte
    BadReply,     // a reply of another code
    LinkError,    // frames spoilt on the line or no longer held for a resend
    OutOfOrder,   // a reply under another sequence number than the frame it would answer
    ResendLimit,  // the same request asked for again too often in a row
    WriteFailed,  // the port refused a write or took only part of it (code: the system's)
    PortGone,     // the port went away (a failed read or write)
    Stopped,      // the channel was stopped from outside
    File,         // an image file could not be opened, measured or read
    Port,         // the port would not open (code and detail say why)
    System,       // the system refused a resource (a worker thread)
};

struct JobOutcome {
    JobStep step = JobStep::None;
    JobReason reason = JobReason::None;
    int slot = -1;       // the slot of a selection, erase, block or end of image; else -1
    int refusal = -1;    // the reason byte of the negative acknowledge; else -1
    int code = 0;        // errno or the platform's error code; 0 when there is none
    int openStage = -1;  // where the port's open failed (a SerialOpenStage); else -1
    std::string detail;

    bool Failed() const { return step != JobStep::None; }
};

// "unlock", "version", "selection", "erase", "block", "end of image", "close", "go", "write",
// "open", "start"; "" for None.
const char* OUTCOME_StepName(JobStep step);
// "time-out", "refused", "bad reply", "link error", "reply out of order", "resend limit",
// "write failed", "port gone", "stopped", "file", "port", "system"; "" for None.
const char* OUTCOME_ReasonName(JobReason reason);
// One line for a person: "block of slot 12: refused (NAK 0x05)".
std::string OUTCOME_Describe(const JobOutcome& outcome);

// --- The outcome of each channel's last job -------------------------------------------------
// Written by the channel's worker (and by the runner for a worker it could not start), read by
// the front end once the run has ended.

// Forgets the channel's outcome (a job begins).
void OUTCOME_Clear(int channel);
// Records a failure, unless the channel's job has already failed: the first failure is the one
// that names the step.
void OUTCOME_Record(int channel, const JobOutcome& outcome);
void OUTCOME_Record(int channel, JobStep step, JobReason reason, int slot = -1,
                    std::string detail = {}, int code = 0);
// Records a failed exchange of the link at step, its reason learned from the link's state: the
// port gone, the channel stopped, a frame not written whole (step "write"), the first link
// error (a refusal and its byte, a bad reply, spoilt frames, a reply out of order, the resend
// limit), else a time-out (with timeOutDetail when given).
void OUTCOME_RecordLink(int channel, JobStep step, int slot = -1,
                        const char* timeOutDetail = nullptr);
// Records a port that would not open.
void OUTCOME_RecordOpen(int channel, const SerialOpenFailure& failure);
JobOutcome OUTCOME_Get(int channel);
