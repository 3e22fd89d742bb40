#pragma once
// The application object: runs the main dialog modally. Without arguments the station behaves
// as the plain operator window; --simulate and --screenshot add simulated handsets and an
// unattended run for trying the window without hardware.
#include <QApplication>
#include <string>
#include <vector>

inline constexpr const char* kStationAppName = "pelor-station";

struct StationOptions {
    int simulate = 0;        // simulated handsets on channels 0 .. simulate-1
    std::string screenshot;  // PNG taken in the middle of an unattended run (needs simulate)
    int unplugChannel = -1;  // simulated handset whose cable is pulled during the run
    int unplugAfterMs = 0;   // that long after Download started
    bool help = false;
    bool continuous = false;  // production mode
};

// Parses the arguments after the program name (Qt's own options already taken out).
// 1 on success; 0 with *error for a usage error.
int STATION_ParseArgs(const std::vector<std::string>& args, StationOptions* options,
                      std::string* error);
extern const char* const kStationUsage;

class CStationApp : public QApplication {
public:
    CStationApp(int& argc, char** argv);
    // Runs the main dialog modally and returns the process's exit code: 1 when the window
    // closes (as on every path of the plain window), 2 for a usage error; a --screenshot run
    // returns 0 when the picture was saved and every channel finished.
    int InitInstance();
};
