// pelor-station: the operator window.
#include <cstdio>
#include <cstring>
#include <string>

#include "config/version.h"
#include "display_check.h"
#include "jobs/station.h"
#include "station_app.h"

// Exit status when no display can be had (1 is the window closing, 2 a usage error).
constexpr int kExitNoDisplay = 3;

int main(int argc, char** argv) {
    // --help and --version answer before the toolkit looks for a display, so they work over
    // ssh and in scripts.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
            std::fputs(kStationUsage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("pelor-station %s\n", PELOR_VersionText().c_str());
            return 0;
        }
    }
    std::string why;
    if (!STATION_DisplayAvailable(&why)) {
        std::fputs(STATION_NoDisplayText(why).c_str(), stderr);
        return kExitNoDisplay;
    }
    // The station the window drives.
    Station station;
    station.MakeDefault();
    CStationApp app(argc, argv);
    return app.InitInstance();
}
