// `pelor flash`: one download on up to eight channels.
#include <cstdio>
#include <memory>

#include "cli_commands.h"
#include "console_display.h"
#include "flash_continuous.h"
#include "flash_run.h"
#include "jobs/address_text.h"
#include "open_failures.h"

namespace {

// A port must be named; an empty -p is a slip of the shell (an unset variable).
std::string PortGiven(std::string& text) {
    if (!text.empty()) return {};
    return "the port is empty: give a device such as /dev/ttyUSB0, or COMn from `pelor ports`";
}

// An address is typed here, not filtered by an edit: anything but 1 to 8 hexadecimal digits
// (after an optional 0x) is refused before a port is opened. The digits go on without prefix.
std::string AddressGiven(std::string& text) {
    const auto digits = PELOR_TypedAddress(text);
    if (!digits)
        return "\"" + text +
               "\" is not an address: give 1 to 8 hexadecimal digits, such as 1A0000 or 0x1A0000";
    text = *digits;
    return {};
}

}  // namespace

void CLI_AddFlashCommand(CLI::App& app, int& exitCode) {
    auto options = std::make_shared<FlashOptions>();
    CLI::App* cmd = app.add_subcommand(
        "flash",
        "Write images into up to eight handsets at once. It writes what the window's Download "
        "writes, checked as the window checks it. Everything given is checked before a port is "
        "opened: a wrong option, address, job file, missing image, an unwritable report, or one "
        "device given for two channels (by any of its names) is refused with exit status 2 and "
        "nothing is sent.\nExit "
        "status: 0 when every channel finished with everything acknowledged (a handset that "
        "never answered GO, as one that restarts at once, counts as done and the report says "
        "\"go_answered\": false), 1 when a channel failed (also a refused CLOSE or GO; a port "
        "that would not open is named on stderr with its reason), 2 for a usage error or a "
        "missing or unreadable input. Ctrl-C, SIGTERM or SIGHUP lets the running jobs finish; "
        "a second one stops them (each is recorded as it ended, one that does not end within a "
        "second as stopped) and ends with status 1. Every job is recorded as it ends (see "
        "--results).");
    cmd->add_option("-p,--port", options->ports,
                    "The next channel's serial device, channel 0 first (up to 8): a path such "
                    "as /dev/ttyUSB0 or /dev/pts/7, or COMn from the port table")
        ->required()
        ->check(CLI::Validator(PortGiven, ""))
        ->type_name("DEVICE");
    cmd->add_option("--code", options->codeDir,
                    "The Code row: the folder of the .mbn images (partition, AMSS header and "
                    "AMSS; the AMSS files are named after the folder's last component, also when "
                    "DIR ends in a separator)")
        ->type_name("DIR");
    cmd->add_flag(
        "--boot", options->boot,
        "Change Boot Area: also write the boot chain (PBL, QCSBL configuration, QCSBL, "
        "OEMSBL header, OEMSBL); the code address becomes 0 instead of 70000. Needs --code");
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
                    "Address of the resource image: 1 to 8 hexadecimal digits, optionally after "
                    "0x (default: the job file's, else address 0). Needs a resource image")
        ->transform(CLI::Validator(AddressGiven, ""))
        ->type_name("HEX");
    cmd->add_flag("--no-format", options->noFormat,
                  "Initialise the handset's file system (FS_INIT) instead of formatting it. "
                  "Needs a resource image");
    cmd->add_option("--job", options->job,
                    "Take the Code and Resource choices (CODECHECK, CODEFILE, ETC2CHECK, "
                    "ETC2FILE, ETC2ADDRESS) from a job file; options given here win")
        ->type_name("FILE.plr");
    cmd->add_option("--baud", options->baud, "Bit rate of every port")->default_val(1382400);
    cmd->add_option("--delay", options->delay, "Pause in ms before every write to a port")
        ->default_val(2);
    cmd->add_option("--report", options->report,
                    "Write a JSON report when the run ends, also when channels failed; with "
                    "--continuous, append one JSON line per finished job as it finishes "
                    "(socket, port, start, end, result, text, bytes). A report that cannot be "
                    "written is refused before a port is opened")
        ->type_name("FILE");
    cmd->add_flag("--continuous", options->continuous,
                  "Production mode: flash each handset as it is plugged in. Each port is a "
                  "socket whose handset is flashed as soon as it is plugged in (a port present "
                  "at the start counts), while the other sockets go on; after its result a "
                  "socket waits for its handset to be unplugged and the next one to arrive. Each "
                  "job is recorded as it ends, as in a Download. Ctrl-C, SIGTERM or SIGHUP takes "
                  "no more handsets and lets the running jobs finish; a second one stops them. "
                  "Exit status 0 when every finished job succeeded, 1 otherwise");
    cmd->add_option("--max-jobs", options->maxJobs,
                    "With --continuous: end after this many finished jobs (0 = no limit)")
        ->check(CLI::NonNegativeNumber)
        ->default_val(0);
    cmd->add_option("--trace", options->trace, "Append the link's diagnostic trace to FILE")
        ->type_name("FILE");
    cmd->add_option("--dev", options->devRoot,
                    "Where serial devices appear and disappear (a device removed during the run "
                    "stops its channel at once); COMn not yet in the port table is looked for "
                    "here, as `pelor ports --dev DIR` lists it. Must be a folder")
        ->default_val("/dev")
        ->type_name("DIR");
    CLI_AddResultsOptions(cmd, options->results);
    cmd->callback([options, &exitCode] {
        options->live = CLI_IsTerminal(stdout);
        if (!options->continuous && options->maxJobs != 0) {
            std::fprintf(stderr, "error: --max-jobs needs --continuous\n");
            exitCode = kExitUsage;
            return;
        }
        if (options->continuous) {
            exitCode = CLI_RunFlashContinuous(*options, stdout, stderr, nullptr);
            return;
        }
        FlashOutcome outcome;
        exitCode = CLI_RunFlash(*options, stdout, stderr, &outcome);
        CLI_PrintOpenFailures(outcome, options->ports, stderr);
    });
}
