#pragma once
// The multi-channel runner: turns one Download into up to eight simultaneous channel jobs.
#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "jobs/station.h"
#include "jobs/status.h"
#include "transport/channels.h"

inline constexpr std::chrono::milliseconds kRunPollInterval{50};

// Prepares all eight channels of the calling thread's station for a run: registers the
// notification target, marks the channels with a port active, resets their framing and link
// state and records port and baud rate (without opening the ports). The write delay and the
// format option are the station's (SERIAL_PORT_SetWriteDelay, LINK_SetFormat). Returns 1.
int PELOR_Start(NotifyTarget* target, unsigned message, const std::array<int, kChannels>& ports,
                int baudRate);
// The options of the next run for the calling thread's station: the "DELAY" pause before every
// write (ms) and the format option (1 FS_FORMAT, 0 FS_INIT). Front ends give their settings.
void PELOR_SetRunOptions(int delayMs, int format);
// Ends a run: stops the ports of the channels still active, clears the notification target.
int PELOR_Stop();
// Empties every channel's image table.
void PELOR_ClearImages();
// Writes one slot of every channel's image table; the address text is parsed as "%X" does.
// Returns the slot, or -1 when it is outside 0..13 (nothing written).
int PELOR_SetImage(int slot, const char* path, const char* addressText);
// Parses hexadecimal address text as "%X" does (leading blanks, optional sign and 0x prefix,
// digits of either case, modulo 2^32); text without a hexadecimal number gives 0.
std::uint32_t PELOR_ParseAddress(const char* text);

// What the front end does while the workers run: handle its events for up to the given time
// (the window: its event loop; the command line: its display). Empty = just wait.
using RunPump = std::function<void(std::chrono::milliseconds)>;
// Starts one worker per channel with a port, pumps until every channel has finished, then
// joins the workers. A worker that cannot be started leaves its channel cleared and reported
// ("ERR: Thread"). Returns 1.
int PELOR_Run(const RunPump& pump = {});

// How the station starts its workers (see WorkerStarter); empty restores std::thread.
void PELOR_SetWorkerStarter(WorkerStarter starter);
