#pragma once
// How the link reports up: the channel texts and the progress of an image. Declared here,
// implemented by the status messages of the job layer, registered for a run.
#include "link/image_table.h"
#include "transport/trace.h"

class StatusReporter {
public:
    virtual ~StatusReporter() = default;
    // A channel's bar text.
    virtual void ChannelText(int channel, const char* text) = 0;
    // The progress of the image being transferred; the entry stays valid until this returns.
    virtual void Progress(const IMAGE_ENTRY& entry) = 0;
};

// The reporter of the current run; nullptr (the default) drops what the link reports.
void LINK_SetReporter(StatusReporter* reporter);
// A channel text (cut at the record's text capacity), to the registered reporter.
void LINK_ChannelPrintf(int channel, const char* format, ...) PELOR_PRINTF(2, 3);
void LINK_Progress(const IMAGE_ENTRY& entry);

// The format option of the run: 1 formats the file system before the resource image (FS_FORMAT),
// 0 initialises it (FS_INIT). Given by the run; 1 by default.
void LINK_SetFormat(int format);
int LINK_Format();
