#include "station_app.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "device_watcher.h"
#include "qt_main_dlg.h"
#include "station_simulation.h"
#include "transport/channels.h"
#include "transport/port_table.h"

const char* const kStationUsage =
    "usage: pelor-station [--continuous] [--simulate N [--screenshot FILE.png]\n"
    "                     [--simulate-unplug CH:SECONDS]] | --version | --help\n"
    "  --continuous       production mode: Download arms the station (the button\n"
    "                     then reads Stop) and each channel flashes every handset\n"
    "                     plugged into its port as it arrives, while the others\n"
    "                     go on\n"
    "  --simulate N       give channels 0..N-1 simulated handsets on\n"
    "                     pseudo-terminals, paced like UARTs at 1382400 baud\n"
    "                     (1 <= N <= 8); a demo image set is generated when the\n"
    "                     job's code folder does not exist; the settings are not\n"
    "                     saved on closing\n"
    "  --screenshot FILE  with --simulate: press Download, save a picture of the\n"
    "                     window in the middle of the run, let the run finish and\n"
    "                     exit\n"
    "  --simulate-unplug CH:SECONDS\n"
    "                     with --simulate: pull the cable of channel CH's handset\n"
    "                     (0 to N-1) SECONDS (decimals allowed) after Download\n"
    "                     started; the window sees the device removed and stops\n"
    "                     only that channel\n"
    "  --version          print the version (and the source revision) and exit\n"
    "Exit status: 1 when the window closes, 2 for a usage error, 3 when no display\n"
    "can be opened (the station without its window is `pelor`).\n";

namespace {

// "CH:SECONDS": a channel 0..7 and a time from 0 to an hour, in seconds with decimals.
bool ParseUnplug(const std::string& value, StationOptions* o) {
    const auto colon = value.find(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == value.size()) return false;
    const std::string ch = value.substr(0, colon), seconds = value.substr(colon + 1);
    char* end = nullptr;
    const long channel = std::strtol(ch.c_str(), &end, 10);
    if (*end != '\0' || channel < 0 || channel >= kChannels) return false;
    end = nullptr;
    const double s = std::strtod(seconds.c_str(), &end);
    if (*end != '\0' || !(s >= 0.0 && s <= 3600.0)) return false;
    o->unplugChannel = static_cast<int>(channel);
    o->unplugAfterMs = static_cast<int>(s * 1000.0 + 0.5);
    return true;
}

}  // namespace

int STATION_ParseArgs(const std::vector<std::string>& args, StationOptions* options,
                      std::string* error) {
    StationOptions o;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "-h" || a == "--help") {
            o.help = true;
        } else if (a == "--continuous") {
            o.continuous = true;
        } else if (a == "--simulate-unplug") {
            if (i + 1 >= args.size()) {
                *error = a + " needs a value";
                return 0;
            }
            if (!ParseUnplug(args[++i], &o)) {
                *error =
                    "--simulate-unplug takes CH:SECONDS (channel 0 to 7, seconds from 0 to "
                    "3600), not '" +
                    args[i] + "'";
                return 0;
            }
        } else if (a == "--simulate" || a == "--screenshot") {
            if (i + 1 >= args.size()) {
                *error = a + " needs a value";
                return 0;
            }
            const std::string& value = args[++i];
            if (a == "--screenshot") {
                o.screenshot = value;
                continue;
            }
            char* end = nullptr;
            const long n = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || n < 1 || n > kChannels) {
                *error = "--simulate takes a number of handsets from 1 to 8, not '" + value + "'";
                return 0;
            }
            o.simulate = static_cast<int>(n);
        } else {
            *error = "unknown argument '" + a + "'";
            return 0;
        }
    }
    if (!o.screenshot.empty() && o.simulate == 0) {
        *error = "--screenshot needs --simulate";
        return 0;
    }
    if (o.unplugChannel >= 0 && o.unplugChannel >= o.simulate) {
        *error = o.simulate == 0
                     ? "--simulate-unplug needs --simulate"
                     : "--simulate-unplug names channel " + std::to_string(o.unplugChannel) +
                           ", which has no simulated handset";
        return 0;
    }
    *options = o;
    return 1;
}

CStationApp::CStationApp(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QString::fromUtf8(kStationAppName));
}

int CStationApp::InitInstance() {
    std::vector<std::string> args;
    const QStringList all = arguments();
    for (qsizetype i = 1; i < all.size(); ++i) args.push_back(all[i].toStdString());
    StationOptions options;
    std::string error;
    if (!STATION_ParseArgs(args, &options, &error)) {
        std::fprintf(stderr, "pelor-station: %s\n%s", error.c_str(), kStationUsage);
        return 2;
    }
    if (options.help) {
        std::fputs(kStationUsage, stdout);
        return 0;
    }

    QtMainDlg dlg;
    dlg.SetContinuous(options.continuous);
    dlg.EndOnSystemRequests();
    // Serial devices plugged in or pulled while the window is open.
    DeviceWatcher watcher;
    dlg.ConnectDeviceWatcher(watcher);
    watcher.Start();
    if (options.simulate == 0) {
        // Handsets plugged in before the window started get their channels as arrivals do.
#if defined(_WIN32)
        dlg.OnDevicesPresent(PORTTABLE_ScanDevices());  // nothing is watched here on Windows
#else
        std::vector<std::string> present;
        for (const auto& known : watcher.Known()) present.push_back(known.first);
        dlg.OnDevicesPresent(present);
#endif
    }
    std::unique_ptr<StationSimulation> simulation;
    if (options.simulate > 0) {
        SimulationOptions so;
        so.handsets = options.simulate;
        so.screenshot = options.screenshot;
        so.unplugChannel = options.unplugChannel;
        so.unplugAfter = std::chrono::milliseconds(options.unplugAfterMs);
        simulation = std::make_unique<StationSimulation>(dlg, so);
        if (!simulation->Start(&error)) {
            std::fprintf(stderr, "pelor-station: %s\n", error.c_str());
            return 1;
        }
    }
    dlg.exec();
    if (simulation) {
        if (!simulation->Message().empty()) std::printf("%s\n", simulation->Message().c_str());
        return simulation->ExitCode();
    }
    return 1;
}
