#pragma once
// The inputs of `pelor flash` checked before a port is opened, each refusal saying what is
// wrong and with which path: the job file, the addresses it holds, and the image files a run
// would send.
#include <string>

#include "flash_run.h"

// Takes the job file's Code and Resource choices into o (options given on the command line
// win). Refuses, with *error saying why, a path that cannot be read, a folder, a file without a
// [PELOR] section, and an address the window's address edit could not have held.
bool CLI_ApplyJobFile(FlashOptions& o, std::string* error);

// After the settings globals hold o's choices: every file the run would send (the code folder's
// images for the chosen options, the resource image) is a readable file. Otherwise *error is
// "ERR: No File: " and, per missing input, its path and what was expected of it.
bool CLI_CheckImageFiles(const FlashOptions& o, std::string* error);

// True when text holds a section header for the job file's section ("[PELOR]", any case,
// blanks allowed around the name).
bool CLI_HasJobSection(const std::string& text);
