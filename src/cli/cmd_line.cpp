// `pelor line --results URL [--listen HOST:PORT]`: the line at a glance in a browser.
#include <cstdio>
#include <memory>

#include "cli_commands.h"
#include "flash_run.h"
#ifdef PELOR_HAVE_LINE_VIEW
#include "line_server.h"
#endif

namespace {

struct LineCommandOptions {
    std::string results;
    std::string listen = "127.0.0.1:8080";
};

}  // namespace

void CLI_AddLineCommand(CLI::App& app, int& exitCode) {
    auto o = std::make_shared<LineCommandOptions>();
    CLI::App* cmd = app.add_subcommand(
        "line",
        "Serve the line at a glance to a browser: every station recording to the line's server, "
        "each socket's state as it changes (idle, flashing with its progress, done, failed with "
        "its reason, off), suspect sockets on top, and per station today's jobs (since local "
        "midnight), yield, handsets per hour and failures by step and reason. The page is at "
        "http://HOST:PORT/, the same as JSON at /api/line, live updates at /events. It only "
        "reads the server (a read-only role is enough) and answers GET only. Runs until "
        "Ctrl-C.\nExit status 0 after Ctrl-C; 2 for a wrong URL or address, a port in use, or "
        "a build without the line view.");
    cmd->add_option("--results", o->results, "The line's server: postgresql://[USER@]HOST/DATABASE")
        ->type_name("URL")
        ->required();
    cmd->add_option("--listen", o->listen,
                    "Where to serve the page (default 127.0.0.1:8080: this machine only; "
                    "0.0.0.0:8080 for every network; port 0 takes a free one)")
        ->type_name("HOST:PORT");
    cmd->callback([o, &exitCode] {
#ifdef PELOR_HAVE_LINE_VIEW
        LineServeOptions options;
        options.results = o->results;
        options.listen = o->listen;
        exitCode = CLI_ServeLine(options, stdout, stderr);
#else
        std::fprintf(stderr,
                     "error: this build of pelor has no line view (it was built without "
                     "an HTTP server library)\n");
        exitCode = kExitUsage;
#endif
    });
}
