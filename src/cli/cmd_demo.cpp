// `pelor demo`: eight simulated handsets flashed at once and verified, without hardware.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "cli_commands.h"
#include "console_display.h"
#include "demo_continuous.h"
#include "demo_line.h"
#include "flash_run.h"
#include "resources/demo_images.h"
#include "sim/sim_expected.h"
#include "sim/sim_handset.h"

namespace {

struct DemoOptions {
    int channels = 8;
    double amssMiB = 1.5;
    bool noUart = false;
    std::string keep;
    std::string report;
    bool continuous = false;
    DemoContinuousOptions line;
    bool lineView = false;
    DemoLineOptions view;
    std::string runFor;
};

// A folder of our own under the system's temporary folder, removed when done.
class TempFolder {
public:
    TempFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "pelor-demo-XXXXXX").string();
#ifndef _WIN32
        if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
#endif
    }
    ~TempFolder() {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    const std::string& path() const {
        return path_;
    }

private:
    std::string path_;
};

int RunDemo(const DemoOptions& o) {
    if (o.lineView) {
        if (o.continuous) {
            std::fprintf(stderr, "error: --line runs benches of its own: not with --continuous\n");
            return 2;
        }
        DemoLineOptions view = o.view;
        if (!o.runFor.empty() && !CLI_ParseRunTime(o.runFor, view.runFor)) {
            std::fprintf(stderr, "error: --for takes a duration such as 30s, 2m or 1h: %s\n",
                         o.runFor.c_str());
            return 2;
        }
        return CLI_RunDemoLine(view, stdout, stderr);
    }
    if (!o.view.results.empty() || !o.runFor.empty()) {
        std::fprintf(stderr, "error: --results and --for go with --line\n");
        return 2;
    }
    if (o.continuous) {
        DemoContinuousOptions line = o.line;
        line.sockets = o.channels;
        line.amssMiB = o.amssMiB;
        line.noUart = o.noUart;
        line.report = o.report;
        return CLI_RunDemoContinuous(line);
    }
#ifdef _WIN32
    // The simulated handsets sit on pseudo-terminals, which Windows lacks.
    (void)o;
    std::fprintf(stderr,
                 "error: the demo needs pseudo-terminals for its simulated handsets, which "
                 "Windows lacks; run it on Linux, or flash handsets with `pelor flash`\n");
    return 2;
#else
    constexpr std::uint32_t kBaud = 1382400;
    const double lineLimit = kBaud / 10.0;  // bytes per second on the line
    TempFolder temp;
    std::string root = o.keep.empty() ? temp.path() : o.keep;
    std::error_code ec;
    if (!o.keep.empty()) std::filesystem::create_directories(root, ec);
    if (root.empty()) {
        std::fprintf(stderr, "error: cannot create a temporary folder\n");
        return 1;
    }
    std::string error;
    DemoImages images;
    const auto amss = static_cast<std::uint32_t>(o.amssMiB * 1024 * 1024);
    if (!DEMO_MakeImages(root, amss, images, &error)) {
        std::fprintf(stderr, "error: %s\n", error.c_str());
        return 1;
    }
    std::printf(
        "demo images in %s: %llu bytes per handset (code folder with boot chain and "
        "AMSS, resource image)\n",
        root.c_str(), static_cast<unsigned long long>(images.bytes));

    std::vector<std::unique_ptr<SimHandset> > handsets;
    FlashOptions flash;
    for (int i = 0; i < o.channels; ++i) {
        SimOptions options;
        options.baud = o.noUart ? 0 : kBaud;
        options.seed = 0x5EED + static_cast<std::uint32_t>(i);
        auto handset = SimHandset::StartOnPty(options, &error);
        if (!handset) {
            std::fprintf(stderr, "error: cannot start a simulated handset: %s\n", error.c_str());
            return 1;
        }
        flash.ports.push_back(handset->DevicePath());
        handsets.push_back(std::move(handset));
    }
    std::printf("%d simulated handsets on pseudo-terminals%s\n\n", o.channels,
                o.noUart ? "" : ", each paced like a UART at 1382400 baud");
    std::fflush(stdout);

    flash.codeDir = images.codeDir;
    flash.results.off = true;  // simulated handsets: not jobs of the line
    flash.boot = true;
    flash.resource = images.resourceFile;
    flash.baud = static_cast<int>(kBaud);
    flash.delay = o.noUart ? 0 : 2;
    flash.report = o.report;
    flash.live = CLI_IsTerminal(stdout);
    FlashOutcome outcome;
    const int status = CLI_RunFlash(flash, stdout, stderr, &outcome);
    if (status == kExitUsage) return 1;

    std::printf("\n%-3s %-12s %-9s %10s %8s %10s %s\n", "ch", "port", "result", "bytes", "sec",
                "KiB/s", o.noUart ? "" : "of line");
    int verified = 0;
    for (const ChannelOutcome& c : outcome.channels) {
        std::vector<SimExpectedImage> expected;
        bool ok = c.ok && SIM_ExpectedImages(c.channel, expected, &error);
        SimVerifyReport report;
        if (ok) {
            report = handsets[c.channel]->Verify(expected);
            ok = report.ok && handsets[c.channel]->Started();
        }
        verified += ok ? 1 : 0;
        const double rate = c.seconds > 0 ? c.bytes / c.seconds : 0.0;
        std::string port = c.port.rfind("/dev/", 0) == 0 ? c.port.substr(5) : c.port;
        std::printf("%-3d %-12s %-9s %10lld %8.2f %10.1f", c.channel, port.c_str(),
                    ok ? "verified" : "FAILED", c.bytes, c.seconds, rate / 1024.0);
        if (!o.noUart) std::printf(" %6.1f%%", 100.0 * rate / lineLimit);
        if (!ok) std::printf("  %s", c.text.c_str());
        std::printf("\n");
    }
    for (auto& h : handsets) h->Stop();
    std::printf("\n%d of %d handsets flashed and verified\n", verified, o.channels);
    return verified == o.channels ? 0 : 1;
#endif
}

}  // namespace

void CLI_AddDemoCommand(CLI::App& app, int& exitCode) {
    auto options = std::make_shared<DemoOptions>();
    CLI::App* cmd = app.add_subcommand(
        "demo",
        "Flash eight simulated handsets, without hardware. It generates a demo image set (a "
        "code folder with the boot chain and an AMSS image, and a resource image), starts "
        "simulated handsets on pseudo-terminals paced like UARTs at 1382400 baud, downloads to "
        "all of them with the live display, verifies every handset's flash and prints a "
        "summary.\nExit status 0 when every handset verifies.");
    cmd->add_option("-n,--channels", options->channels, "Number of handsets")
        ->check(CLI::Range(1, 8))
        ->default_val(8);
    cmd->add_option("--amss-mib", options->amssMiB, "Size of the AMSS image in MiB")
        ->check(CLI::Range(0.0, 64.0))
        ->default_val(1.5);
    cmd->add_flag("--no-uart", options->noUart,
                  "Let the handsets take bytes as fast as they come (the software's ceiling)");
    cmd->add_option("--keep", options->keep, "Write the demo images into DIR and keep them")
        ->type_name("DIR");
    cmd->add_option("--report", options->report, "Write the flash report as JSON")
        ->type_name("FILE");
    cmd->add_flag("--continuous", options->continuous,
                  "Production mode on a simulated line. Each socket's handset is flashed as "
                  "soon as it is plugged in, taken out after its job and replaced after the "
                  "operator's swap time, until --handsets handsets have been flashed");
    cmd->add_option("--handsets", options->line.handsets,
                    "With --continuous: handsets to flash in all")
        ->check(CLI::Range(1, 100000))
        ->default_val(16);
    cmd->add_option("--arrivals", options->line.arrivals,
                    "With --continuous: LEAVE,SWAP as for `pelor simulate --arrivals`")
        ->default_val("500ms,uniform:1s-3s")
        ->type_name("LEAVE,SWAP");
    cmd->add_flag("--line", options->lineView,
                  "The line view with two simulated benches: bench-a and bench-b, four sockets "
                  "each in production mode, bench-b's socket 2 going bad. They record to a "
                  "PostgreSQL server (--results, else a throw-away one made in a temporary "
                  "folder and removed at the end, where PostgreSQL's server programs are "
                  "installed), and the line view (as `pelor line`) is served from it; its "
                  "address is printed. Ends after --for, or on Ctrl-C");
    cmd->add_option("--results", options->view.results,
                    "With --line: record to this server, postgresql://[USER@]HOST/DATABASE")
        ->type_name("URL");
    cmd->add_option("--listen", options->view.listen,
                    "With --line: where the line view listens, HOST:PORT")
        ->default_val("127.0.0.1:8080")
        ->type_name("HOST:PORT");
    cmd->add_option("--for", options->runFor,
                    "With --line: end after this time (e.g. 30s, 2m; default: until Ctrl-C)")
        ->type_name("DURATION");
    cmd->callback([options, &exitCode] { exitCode = RunDemo(*options); });
}
