#pragma once
// What the settings file says about recording: "RESULTS" (a line's server URL) and "STATION"
// (the station's name), section "PELOR" of "pelorw.ini".
#include <string>

#include "results/recorder.h"

inline constexpr const char* kResultsKey = "RESULTS";
inline constexpr const char* kStationKey = "STATION";

// The recording's configuration from the settings file at settingsPath; what the command line
// gave (non-empty url or station, noResults) wins. A "RESULTS" of "off" turns recording off.
ResultsConfig RESULTS_Config(const std::string& settingsPath, const std::string& url,
                             const std::string& station, bool noResults);
