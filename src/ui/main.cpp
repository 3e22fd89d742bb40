// pelor-station: the operator window.
#include <cstdio>
#include <cstring>

#include "station_app.h"

int main(int argc, char** argv) {
    // --help answers before the toolkit looks for a display, so it works over ssh and in scripts.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
            std::fputs(kStationUsage, stdout);
            return 0;
        }
    }
    CStationApp app(argc, argv);
    return app.InitInstance();
}
