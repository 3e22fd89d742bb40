// `pelor ports`: the serial ports and their port numbers.
#include <cstdio>
#include <memory>
#include <string>

#include "cli_commands.h"
#include "config/settings.h"
#include "jobs/port_assignment.h"
#include "transport/port_table.h"

void CLI_AddPortsCommand(CLI::App& app, int& exitCode) {
    auto devDir = std::make_shared<std::string>("/dev");
    CLI::App* cmd = app.add_subcommand(
        "ports",
        "List the serial ports and their numbers (COMn). The numbers are those of the port "
        "table of pelorw.ini in the current folder; USB serial ports come first, then the "
        "machine's built-in UARTs (marked as such). A port seen for the first time is shown "
        "with the number it would get, and `pelor flash -p COMn` in the same folder takes that "
        "number for it while the same ports are present.");
    cmd->add_option("--dev", *devDir, "Where serial devices appear")
        ->default_val("/dev")
        ->type_name("DIR");
    cmd->callback([devDir, &exitCode] {
        SETTINGS_InitDirectory();
        PORTTABLE_Load(SETTINGS_FilePath());
        const auto present = PORTS_NumberPresent(*devDir);
        if (present.empty()) std::printf("no serial ports found\n");
        for (const PresentPort& port : present) {
            std::printf("COM%-3d %-10s %s%s\n", port.number,
                        PORTTABLE_ShortName(port.device).c_str(), port.device.c_str(),
                        port.builtin ? " (built-in UART)" : "");
        }
        exitCode = 0;
    });
}
