#pragma once
// `pelor demo --continuous`: production mode on a simulated line.
#include <string>

struct DemoContinuousOptions {
    int sockets = 8;
    double amssMiB = 1.5;
    bool noUart = false;
    int handsets = 16;
    std::string arrivals = "500ms,uniform:1s-3s";
    std::string report;
};

int CLI_RunDemoContinuous(const DemoContinuousOptions& options);
