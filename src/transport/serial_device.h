#pragma once
// One serial port for one channel: open with the station's line settings, read what has
// arrived, write a block, close. Knows nothing of frames.
#include <cstdint>
#include <span>
#include <string>

#include "transport/port_device.h"

// Where an open failed; decides which trace line the portable layer writes.
enum class SerialOpenStage {
    kCreate,      // the device could not be opened or taken exclusively
    kSettings,    // the line settings or the bit rate were refused
    kReadEvent,   // the read completion event could not be made
    kWriteEvent,  // the write completion event could not be made
};

struct SerialOpenFailure {
    SerialOpenStage stage = SerialOpenStage::kCreate;
    int code = 0;        // errno or the platform's last-error code
    std::string reason;  // words an operator can act on
};

inline constexpr int kSerialQueueSize = 4096;
inline constexpr int kWriteTimeoutMs = 5000;
// Bound of the wait at close for the output already handed to the port to leave it.
inline constexpr int kDrainTimeoutMs = 5000;

// Opens the device that the port table maps portNumber to. Null on failure, with *failure (when
// given) saying where and why.
SerialHandle SERIAL_DEVICE_Open(int channel, int portNumber, int baudRate,
                                SerialOpenFailure* failure = nullptr);
// Opens a device by name: a POSIX path (/dev/ttyUSB0, /dev/pts/7), "loop:NAME" for an
// in-process loopback port, or "\\.\COMn" on Windows. Null on failure, with *failure (when
// given) saying where and why.
SerialHandle SERIAL_DEVICE_OpenPath(int channel, const std::string& device, int baudRate,
                                    SerialOpenFailure* failure = nullptr);
// Drains what was already handed to the port (bounded), clears DTR and RTS, releases it.
// A null handle is accepted and only traced.
void SERIAL_DEVICE_Close(int channel, SerialHandle handle);
// Bytes stored at buffer[offset..] (1..maxLength), 0 when nothing was waiting, -1 on failure.
// Never waits.
int SERIAL_DEVICE_Read(int channel, PortDevice* handle, std::span<std::uint8_t> buffer, int offset,
                       int maxLength);
// Bytes accepted (may be fewer than length), 0 when none were, -1 on a write error.
int SERIAL_DEVICE_Write(int channel, PortDevice* handle, std::span<const std::uint8_t> buffer,
                        int offset, int length);

// Sets the bounds of one write and of the drain at close (milliseconds; values below 1 give
// the defaults above). For tests and tools; the station keeps the defaults.
void SERIAL_DEVICE_SetTimeBounds(int writeMs, int drainMs);
