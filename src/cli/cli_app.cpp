#include "cli_app.h"

#include <CLI/CLI.hpp>

int PELOR_CliMain(int argc, char** argv) {
    CLI::App app{"pelor - headless flashing station for up to eight handsets"};
    app.require_subcommand(0, 1);
    CLI11_PARSE(app, argc, argv);
    if (app.get_subcommands().empty()) {
        std::fputs(app.help().c_str(), stdout);
    }
    return 0;
}
