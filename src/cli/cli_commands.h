#pragma once
// Each command of `pelor` registers itself on the application and runs when chosen.
#include <CLI/CLI.hpp>

// exitCode receives the command's exit status when it runs.
void CLI_AddFlashCommand(CLI::App& app, int& exitCode);
void CLI_AddSimulateCommand(CLI::App& app, int& exitCode);
void CLI_AddPortsCommand(CLI::App& app, int& exitCode);
void CLI_AddDemoCommand(CLI::App& app, int& exitCode);
void CLI_AddBuildRscCommand(CLI::App& app, int& exitCode);
void CLI_AddDoctorCommand(CLI::App& app, int& exitCode);
void CLI_AddResultsCommand(CLI::App& app, int& exitCode);
void CLI_AddLineCommand(CLI::App& app, int& exitCode);
