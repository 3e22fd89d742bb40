// `pelor ports`: the serial ports and their port numbers.
#include <cstdio>

#include "cli_commands.h"
#include "config/settings.h"
#include "transport/port_diagnostics.h"
#include "transport/port_table.h"

void CLI_AddPortsCommand(CLI::App& app, int& exitCode) {
    CLI::App* cmd = app.add_subcommand(
        "ports",
        "List the serial ports and their numbers (COMn). The numbers are those of the port "
        "table of pelorw.ini in the current folder; USB serial ports come first, then the "
        "machine's built-in UARTs (marked as such). A port seen for the first time is shown "
        "with the number it would get.");
    cmd->callback([&exitCode] {
        SETTINGS_InitDirectory();
        PORTTABLE_Load(SETTINGS_FilePath());
        const auto devices = PORTTABLE_ScanDevices();
        const DiagOptions where;
        const auto builtin = PORTDIAG_BuiltinUarts(where.devDir, where.sysTtyDir);
        if (devices.empty() && builtin.empty()) std::printf("no serial ports found\n");
        for (const std::string& device : devices) {
            const int n = PORTTABLE_Assign(device);
            std::printf("COM%-3d %-10s %s\n", n, PORTTABLE_ShortName(device).c_str(),
                        device.c_str());
        }
        for (const std::string& device : builtin) {
            const int n = PORTTABLE_Assign(device);
            std::printf("COM%-3d %-10s %s (built-in UART)\n", n,
                        PORTTABLE_ShortName(device).c_str(), device.c_str());
        }
        exitCode = 0;
    });
}
