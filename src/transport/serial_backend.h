#pragma once
// Between the portable serial device layer and its platform backends (termios, Win32).
// Not for use above the transport layer.
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
    std::string reason;  // operator words, as SERIAL_DEVICE_LastError gives them
};

// Opens a platform serial device with the station's line settings. Null on failure, with
// *failure filled in.
SerialHandle SERIAL_BACKEND_Open(int channel, const std::string& path, int baudRate,
                                 SerialOpenFailure* failure);

// Current bounds of one write and of the output drain at close, in milliseconds.
int SERIAL_WriteBoundMs();
int SERIAL_DrainBoundMs();
