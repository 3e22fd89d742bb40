#pragma once
// In-process loopback ports: a connected pair of byte streams. The station opens one end
// by the name "loop:NAME" through SERIAL_DEVICE_OpenPath; a peer (the simulated handset or a
// scripted test peer) holds the other end as a plain descriptor.
#include <string>

#include "transport/port_device.h"

// Creates a pair and registers the station's end under name. Returns the peer's descriptor
// (owned by the caller), or -1. Each open of "loop:NAME" gets its own duplicate of the
// station's end; closing the peer's descriptor makes the station's reads fail (unplug).
int LOOPBACK_Create(const std::string& name);
void LOOPBACK_Remove(const std::string& name);
// Whether a station end is registered under name (the port is "plugged in").
bool LOOPBACK_Exists(const std::string& name);
// Which plugging-in the registered end is (a new number at every LOOPBACK_Create), 0 when none.
unsigned long long LOOPBACK_Generation(const std::string& name);
// Opens the registered station end; null when name is not registered.
SerialHandle LOOPBACK_Open(const std::string& name);
