#pragma once
// The line an ideal station would make of the same operator: the same sockets, handsets, swap
// and leave times drawn from the same seeds in the same order as SimLine's operator draws them,
// but a station that sees each arrival at once, starts its job at once and takes only the
// time the bytes need on the line (no poll, no fixed cost per job). A bench divides the real
// station's handsets per hour by this one's: what is left is the software's share, whatever
// the operator's queueing costs both.
#include <chrono>
#include <cstdint>
#include <vector>

#include "sim/sim_arrivals.h"

struct SimIdealOptions {
    int sockets = 8;
    int handsets = 64;
    std::chrono::microseconds flash{0};  // one handset's job
    std::chrono::microseconds leaveAfter{0};
    SimSwapTime swap;
    std::uint32_t seed = 1;
    bool batch = false;    // Download starts every socket once all hold fresh handsets
    bool restart = false;  // handsets restart on GO, as SimArrivalOptions::restart
};

struct SimIdealResult {
    std::vector<double> finishes;  // seconds from the start at which each handset took GO
    double PerHour() const;        // handsets per hour by the last finish
};

// Steps through the line in virtual time, a millisecond at a time.
SimIdealResult SIM_IdealLine(const SimIdealOptions& options);
