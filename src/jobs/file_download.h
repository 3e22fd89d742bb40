#pragma once
// The channel download job: the whole conversation with one handset, from opening its port to
// GO, and the operation that stops one channel from outside its job.
#include <array>
#include <atomic>

#include "jobs/station.h"
#include "transport/channels.h"

// The result of each channel's last job (g_nChannelResult) and whether its GO was answered
// (g_nGoAnswered) are the station's: jobs/station.h.

// Worker body; returns the same value it stores in g_nChannelResult.
int FileDownload(int channel);
// Clears the channel's active flag, wakes its waits and closes its port. Returns 1.
int PELOR_CloseChannel(int channel);
// As PELOR_CloseChannel, for a device seen removed: a job it ends failed as the port gone.
int PELOR_ChannelGone(int channel);

// The text shown when a slot starts (slot 13 depends on the format option).
const char* JOB_SlotText(int slot);
