#include "cli_app.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <memory>

#include "cli_commands.h"
#include "config/version.h"
#include "help_format.h"

int PELOR_CliMain(int argc, char** argv) {
    CLI::App app{
        "pelor - the flashing station without its window: writes firmware images into up to "
        "eight handsets at once over their serial ports.",
        "pelor"};
    // Before the commands are added: each takes its formatter from here.
    app.formatter(std::make_shared<HelpFormatter>(CLI_HelpWidth()));
    app.require_subcommand(0, 1);
    app.set_version_flag("--version", "pelor " + PELOR_VersionText(),
                         "Print the version (and the source revision it was built from) and exit");
    int exitCode = 0;
    CLI_AddFlashCommand(app, exitCode);
    CLI_AddDemoCommand(app, exitCode);
    CLI_AddSimulateCommand(app, exitCode);
    CLI_AddPortsCommand(app, exitCode);
    CLI_AddBuildRscCommand(app, exitCode);
    CLI_AddDoctorCommand(app, exitCode);
    CLI_AddResultsCommand(app, exitCode);
    CLI_AddLineCommand(app, exitCode);
    app.footer(
        "Run `pelor COMMAND --help` for a command's options.\n"
        "Exit status of every command: 0 done; 1 the work failed (a channel failed, the doctor "
        "found a problem, a file could not be written); 2 a usage error or a missing or "
        "unreadable input, refused before anything was done.");
    app.failure_message([](const CLI::App*, const CLI::Error& e) {
        return "error: " + std::string(e.what()) + "\nRun with --help for more information.\n";
    });
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? 0 : 2;
    }
    if (app.get_subcommands().empty()) {
        std::fputs(app.help().c_str(), stderr);
        std::fputs("error: name a command\n", stderr);
        return 2;
    }
    return exitCode;
}
