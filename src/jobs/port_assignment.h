#pragma once
// The port assignment rules of the station, the same for the window and the command line: which
// channel a port chosen by hand, a device that arrived or a port given by name ends up on.
#include <array>
#include <string>
#include <vector>

#include "transport/channels.h"

using ChannelPorts = std::array<int, kChannels>;  // port number per channel, 0 = none

// A port chosen for a channel by hand: the channel takes it unless a channel (itself included)
// already has it; then the channel is left without one. Returns the channel's port afterwards.
int PORTS_Choose(ChannelPorts& ports, int channel, int port);

// A device with this port arrived (automatic assignment): the first channel that already has the
// port keeps it and every later one loses it (their bits set in cleared); otherwise the first
// channel without a port takes it. Returns the channel, or -1 when all eight have a port.
int PORTS_Arrive(ChannelPorts& ports, int port, std::array<bool, kChannels>* cleared = nullptr);

// The first channel that has the port, or -1.
int PORTS_ChannelOf(const ChannelPorts& ports, int port);

// A serial port present now, with its port number.
struct PresentPort {
    int number = 0;
    std::string device;
    bool builtin = false;  // one of the machine's own UARTs
};

// The serial ports present now under devDir (the system's /dev; ignored on Windows), in the
// order `pelor ports` lists them: USB serial ports first, then the machine's built-in UARTs.
// Each has its number in the port table; a device seen for the first time takes the lowest free
// number, kept in the table from now on.
std::vector<PresentPort> PORTS_NumberPresent(const std::string& devDir);

// The port number of a port given by name: "COMn" (either case) from the port table, or a
// device path, which gets a number in the port table (a known device keeps its own). A COMn the
// table does not hold yet is looked for among the ports present under devDir, numbered as
// `pelor ports` shows them. 0 with error when there is none; device is what the number stands
// for.
int PORTS_Resolve(const std::string& name, std::string* device, std::string* error,
                  const std::string& devDir = "/dev");
