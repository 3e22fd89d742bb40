#pragma once
// Why a channel's port would not open, told on the terminal: the bar keeps "ERR: Open", and
// this says which port (as the operator gave it) and why, and where to look next.
#include <cstdio>
#include <string>
#include <vector>

#include "flash_run.h"

// One line per channel whose port would not open, e.g.
// "ch1 /dev/ttyUSB7: the port would not open: no such device; `pelor doctor` says what to do".
// given: the ports as the operator gave them, channel 0 first (a COMn is shown with its device).
std::vector<std::string> CLI_OpenFailureLines(const FlashOutcome& outcome,
                                              const std::vector<std::string>& given);

// Prints those lines to err, each after "error: ".
void CLI_PrintOpenFailures(const FlashOutcome& outcome, const std::vector<std::string>& given,
                           std::FILE* err);
