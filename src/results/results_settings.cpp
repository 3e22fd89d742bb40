#include "results/results_settings.h"

#include "config/ini_file.h"
#include "config/settings.h"

ResultsConfig RESULTS_Config(const std::string& settingsPath, const std::string& url,
                             const std::string& station, bool noResults) {
    ResultsConfig config;
    config.enabled = !noResults;
    config.serverUrl =
        !url.empty() ? url : INI_GetString(settingsPath, kSettingsSection, kResultsKey, "");
    config.station =
        !station.empty() ? station : INI_GetString(settingsPath, kSettingsSection, kStationKey, "");
    // "RESULTS=off" keeps no record, as --no-results does.
    if (config.serverUrl == "off" || config.serverUrl == "OFF") {
        config.serverUrl.clear();
        config.enabled = false;
    }
    return config;
}
