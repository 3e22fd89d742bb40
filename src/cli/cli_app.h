#pragma once
// The `pelor` command line: parses the arguments and runs one command. Returns the exit status.
int PELOR_CliMain(int argc, char** argv);
