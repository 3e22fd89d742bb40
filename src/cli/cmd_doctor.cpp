// `pelor doctor`: what stops this bench from opening its handsets' ports, one line each, with
// what to do. Exit 0 when nothing stops a download, 1 otherwise.
#include <cstdio>
#include <memory>
#include <string>

#include "cli_commands.h"
#include "config/settings.h"
#include "transport/port_diagnostics.h"
#include "transport/port_table.h"

namespace {

const char* Tag(DiagLevel level) {
    switch (level) {
        case DiagLevel::kOk:
            return "ok  ";
        case DiagLevel::kWarn:
            return "warn";
        case DiagLevel::kFail:
            return "FAIL";
    }
    return "?   ";
}

}  // namespace

void CLI_AddDoctorCommand(CLI::App& app, int& exitCode) {
    CLI::App* cmd = app.add_subcommand(
        "doctor",
        "Check what stops a download and say what to do. One line each: the serial ports "
        "present and their port numbers (the machine's built-in UARTs too, marked as such), "
        "whether you may open each, which program holds a port, whether ModemManager or "
        "brltty may claim newly plugged handsets, and whether the udev rule for handsets is in "
        "place.\nExit status 0 when nothing stops a download, 1 otherwise.");
    auto options = std::make_shared<DiagOptions>();
    cmd->add_option("--dev", options->devDir, "The folder of the devices to check")
        ->type_name("DIR")
        ->capture_default_str();
    cmd->add_option("--proc", options->procDir, "The folder of the processes to look through")
        ->type_name("DIR")
        ->capture_default_str();
    cmd->callback([options, &exitCode] {
        SETTINGS_InitDirectory();
        PORTTABLE_Load(SETTINGS_FilePath());
        const DiagResult result = PORTDIAG_Check(*options);
        int failures = 0;
        for (const DiagLine& line : result.lines) {
            std::printf("%s  %s\n", Tag(line.level), line.text.c_str());
            if (line.level == DiagLevel::kFail) ++failures;
        }
        if (result.blocked) {
            std::printf("%d problem%s to fix before a download\n", failures,
                        failures == 1 ? "" : "s");
        } else {
            std::printf("nothing stops a download\n");
        }
        std::fflush(stdout);
        exitCode = result.blocked ? 1 : 0;
    });
}
