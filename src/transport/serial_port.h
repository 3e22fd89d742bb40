#pragma once
// Port ownership and the receive pump: which port and bit rate each channel uses in a run, the
// one mutex that guards opening and closing, the read and write wrappers of the link, and the
// pump that hands received bytes to the channel's receive sink (the link's frame assembler
// registers itself there). The pump has no thread of its own: it runs on the channel's worker,
// from inside the link's waits.
#include <cstdint>
#include <span>

#include "transport/channels.h"
#include "transport/port_device.h"
#include "transport/serial_device.h"
#include "transport/station_ports.h"

// Registered by the layer above for each channel before the channel's worker runs; without one
// the bytes read are dropped.
void SERIAL_PORT_SetReceiveSink(int channel, ReceiveSink sink);

int SERIAL_PORT_Start(int channel, int portNumber, int baudRate);
int SERIAL_PORT_Stop(int channel);
// 1 when the channel has an open port afterwards; 0 on failure (the caller reports it), with
// *failure (when given) saying where and why.
int SERIAL_PORT_Open(int channel, SerialOpenFailure* failure = nullptr);
int SERIAL_PORT_Close(int channel);
int SERIAL_PORT_Read(int channel, std::span<std::uint8_t> buffer, int offset, int maxLength);
// Pauses the write delay ("DELAY" ms), then writes.
int SERIAL_PORT_Write(int channel, std::span<const std::uint8_t> buffer, int offset, int length);
// Reads at most 4096 waiting bytes and hands them to the channel's receive sink. Returns the
// count, 0 when nothing was waiting; on a read failure closes the port and returns -1.
int SERIAL_PORT_DoReading(int channel);
// 1 once the pump closed the channel's port because a read failed (the device is gone):
// nothing more can arrive, so the channel's waits end at once. Cleared by SERIAL_PORT_Open.
int SERIAL_PORT_IsGone(int channel);
// The device is known to be gone (it was seen removed) before a read has failed.
void SERIAL_PORT_MarkGone(int channel);

// --- Waiting between passes of the link's waits -------------------------------------------
// The calling thread's station's clock (its environment's; the real one by default).
StationClock& SERIAL_PORT_Clock();
// One pass of a wait: the override below if set, else the station's clock.
std::int64_t SERIAL_PORT_WaitPass(int channel, std::int64_t maxMicros);
// Overrides the station's passes (tests); nullptr goes back to its clock.
void SERIAL_PORT_SetPassWait(PassWaitFn fn);

// The pause before every write, in milliseconds ("DELAY"); given by the run (default 2).
void SERIAL_PORT_SetWriteDelay(int milliseconds);
int SERIAL_PORT_WriteDelay();

// Overrides the station's pauses before a write (tests); nullptr goes back to its clock.
void SERIAL_PORT_SetDelay(DelayFn fn);

// Wakes the channel's current and next waits at once (a stop or a removal), until cleared.
void SERIAL_PORT_Wake(int channel);
void SERIAL_PORT_ClearWake(int channel);
