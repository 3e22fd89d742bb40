#pragma once
// The inputs of `pelor flash` checked before a port is opened, each refusal saying what is
// wrong and with which path: the job file and the addresses it holds. The image files and the
// ports are checked by the Download's own check (PELOR_CheckDownload), as in the window.
#include <string>

#include "flash_run.h"

// Takes the job file's Code and Resource choices into o (options given on the command line
// win). Refuses, with *error saying why, a path that cannot be read, a folder, a file without a
// [PELOR] section, and an address the window's address edit could not have held.
bool CLI_ApplyJobFile(FlashOptions& o, std::string* error);

// True when text holds a section header for the job file's section ("[PELOR]", any case,
// blanks allowed around the name).
bool CLI_HasJobSection(const std::string& text);
