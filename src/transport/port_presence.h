#pragma once
// Whether a port's device is there now: what production mode polls to see a handset arrive
// (the path appears) and leave (it disappears). Works where no device events exist: symbolic
// links, pseudo-terminal paths, the in-process loopback ports.
#include <string>

// 1 when the device exists now. POSIX: the path resolves (a dangling symbolic link is absent);
// Windows: the COM name is known to the system; "loop:NAME": the loopback port is registered.
int PORT_PRESENCE_Exists(const std::string& device);
