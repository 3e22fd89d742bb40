#pragma once
// Between the portable serial device layer and its platform backends (termios, Win32).
// Not for use above the transport layer.
#include <string>

#include "transport/port_device.h"
#include "transport/serial_device.h"

// Opens a platform serial device with the station's line settings. Null on failure, with
// *failure filled in.
SerialHandle SERIAL_BACKEND_Open(int channel, const std::string& path, int baudRate,
                                 SerialOpenFailure* failure);

// Current bounds of one write and of the output drain at close, in milliseconds.
int SERIAL_WriteBoundMs();
int SERIAL_DrainBoundMs();
