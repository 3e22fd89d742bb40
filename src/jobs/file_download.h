#pragma once
// The channel download job: the whole conversation with one handset, from opening its port to
// GO, and the operation that stops one channel from outside its job.
#include <array>
#include <atomic>

#include "transport/channels.h"

// Result of each channel's last job: 1 when every slot went through and the handset
// acknowledged everything; 0 when it failed; -1 before the job has ended.
extern std::array<std::atomic<int>, kChannels> g_nChannelResult;

// Whether the handset answered the job's final GO: 1 answered, 0 no answer within the grace
// (a handset may reset on GO before it answers; the job still succeeds), -1 when the job did
// not get as far as a successful close.
extern std::array<std::atomic<int>, kChannels> g_nGoAnswered;

// Worker body; returns the same value it stores in g_nChannelResult.
int FileDownload(int channel);
// Clears the channel's active flag, wakes its waits and closes its port. Returns 1.
int PELOR_CloseChannel(int channel);

// The text shown when a slot starts (slot 13 depends on the format option).
const char* JOB_SlotText(int slot);
