#pragma once
// Who is plugged into a port: the USB serial number of the device behind it, where the system
// gives one. Production mode uses it to tell a handset that restarted after GO (and came back
// on its socket) from a new handset.
#include <string>

// The serial number of the device a port name leads to now, or empty when the system gives
// none (not a USB device, a device without one, a pseudo-terminal, a loopback port).
// Linux: udev's ID_SERIAL_SHORT where udev knows the USB device; else the by-id name that
// leads to the same node, in a "by-id" folder beside the name's folder or its parent's (so
// /dev/serial/by-id for a /dev/serial/by-path name, and the folder where a simulated line shows
// its handsets' serial numbers the same way) or /dev/serial/by-id. Windows: the serial part of
// the USB device instance behind the COM port, when the device reports one.
std::string PORT_IDENTITY_SerialNumber(const std::string& device);

// The serial number in a by-id name: "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0" gives
// "A50285BI" (the last part of the device's ID_SERIAL before the interface). Empty when the
// name has no such part.
std::string PORT_IDENTITY_SerialFromByIdName(const std::string& name);
