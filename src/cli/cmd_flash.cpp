// `pelor flash`: one download on up to eight channels.
#include <memory>

#include "cli_commands.h"
#include "console_display.h"
#include "flash_run.h"

void CLI_AddFlashCommand(CLI::App& app, int& exitCode) {
    auto options = std::make_shared<FlashOptions>();
    CLI::App* cmd = app.add_subcommand(
        "flash",
        "Write the chosen images into up to eight handsets at once, as the window's Download "
        "does. Exit status: 0 when every channel finished with everything acknowledged, 1 when "
        "a channel failed, 2 for a usage error or a missing or unreadable input (nothing is "
        "sent to any handset then).");
    cmd->add_option("-p,--port", options->ports,
                    "The next channel's serial device, channel 0 first (up to 8): a path such "
                    "as /dev/ttyUSB0 or /dev/pts/7, or COMn from the port table")
        ->required()
        ->type_name("DEVICE");
    cmd->add_option("--code", options->codeDir,
                    "The Code row: the folder of the .mbn images (partition, AMSS header and "
                    "AMSS; the AMSS files are named after the folder's last component)")
        ->type_name("DIR");
    cmd->add_flag("--boot", options->boot,
                  "Change Boot Area: also write the boot chain (PBL, QCSBL configuration, QCSBL, "
                  "OEMSBL header, OEMSBL); the code address becomes 0 instead of 70000");
    cmd->add_option("--erase", options->erase,
                    "Erase the NAND first: none, all, or except-backup (all but the backup "
                    "area). Both need --code and turn --boot on; except-backup also needs "
                    "--resource")
        ->check(CLI::IsMember({"none", "all", "except-backup"}))
        ->default_str("none");
    cmd->add_option("--resource", options->resource,
                    "The Resource row: the resource image, written last through the handset's "
                    "file system")
        ->type_name("FILE");
    cmd->add_option("--resource-address", options->resourceAddress,
                    "Hexadecimal address of the resource image (default empty, address 0)")
        ->type_name("HEX");
    cmd->add_flag("--no-format", options->noFormat,
                  "Initialise the handset's file system (FS_INIT) instead of formatting it");
    cmd->add_option("--job", options->job,
                    "Take the Code and Resource choices (CODECHECK, CODEFILE, ETC2CHECK, "
                    "ETC2FILE, ETC2ADDRESS) from a job file; options given here win")
        ->type_name("FILE.plr");
    cmd->add_option("--baud", options->baud, "Bit rate of every port")->default_val(1382400);
    cmd->add_option("--delay", options->delay, "Pause in ms before every write to a port")
        ->default_val(2);
    cmd->add_option("--report", options->report,
                    "Write a JSON report when the run ends, also when channels failed")
        ->type_name("FILE");
    cmd->add_option("--trace", options->trace, "Append the link's diagnostic trace to FILE")
        ->type_name("FILE");
    CLI_AddResultsOptions(cmd, options->results);
    cmd->callback([options, &exitCode] {
        options->live = CLI_IsTerminal(stdout);
        exitCode = CLI_RunFlash(*options, stdout, stderr, nullptr);
    });
}
