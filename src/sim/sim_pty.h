#pragma once
// A pseudo-terminal for the simulated handset: the handset keeps the master, the station opens
// the slave by its path (/dev/pts/N) as it would open a serial port.
#include <string>

#include "sim/sim_fd.h"

// Creates the pair, sets the line raw (no echo, no line editing, no flow-control characters,
// no CR/LF translation: every byte passes as it is) and makes the master non-blocking. The
// slave is not held open. 1 with master and slavePath set, or 0 with error set.
int SIM_OpenPty(SimFd& master, std::string& slavePath, std::string& error);
