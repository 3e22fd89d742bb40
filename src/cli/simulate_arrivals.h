#pragma once
// `pelor simulate --arrivals`: simulated handsets on a line of sockets that an operator works,
// for production mode without hardware.
#include <chrono>
#include <string>
#include <vector>

#include "sim/sim_arrivals.h"
#include "sim/sim_fault.h"

struct SimulateArrivalsOptions {
    int sockets = 1;
    std::string arrivals;  // "LEAVE,SWAP": e.g. "1s,uniform:3s-6s"
    std::string folder;    // where the sockets' links go; empty = a new temporary folder
    unsigned seed = 1;
    int handsets = 0;  // 0 = no limit
    unsigned uartBaud = 0;
    std::vector<std::string> badSockets;  // "N:RATE" each
    std::vector<SimFault> faults;         // every handset's
    std::chrono::microseconds eraseLatency{0};
    std::chrono::microseconds programLatency{0};
    std::chrono::microseconds replyLatency{0};
    bool restart = false;  // handsets restart on GO
};

// Prints one socket path per line and serves until interrupted. Returns the exit status.
int CLI_RunSimulateArrivals(const SimulateArrivalsOptions& options);

// Parses "N:RATE" (socket N of sockets, a share of its handsets 0..1 or a percentage "30%")
// into line.badRate. 1 on success, else 0 with error set.
int CLI_ParseBadSocket(const std::string& text, int sockets, SimArrivalOptions& line,
                       std::string& error);

// Parses "LEAVE,SWAP" into the line's options. 1 on success, else 0 with error set.
int CLI_ParseArrivals(const std::string& text, SimArrivalOptions& line, std::string& error);
