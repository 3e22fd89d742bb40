#pragma once
// Whether a port's device is there now: what production mode polls to see a handset arrive
// (the path appears) and leave (it disappears). Works where no device events exist: symbolic
// links, pseudo-terminal paths, the in-process loopback ports.
#include <string>

// 1 when the device exists now. POSIX: the path resolves (a dangling symbolic link is absent);
// Windows: the COM name is known to the system; "loop:NAME": the loopback port is registered.
int PORT_PRESENCE_Exists(const std::string& device);

// What is plugged in now, as a text that changes whenever the device was taken away and one
// came back, however quickly (a swap between two looks); empty when nothing is there. POSIX: the
// link's inode number and change time and the node's inode and device numbers (a link made
// again, a node made again);
// "loop:NAME": the plugging-in's number; Windows: the name's presence only (the window's device
// broadcast tells swaps there).
std::string PORT_PRESENCE_Identity(const std::string& device);
