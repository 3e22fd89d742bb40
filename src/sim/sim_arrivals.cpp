// The operator's swap times: parsing and seeded draws (every platform).
#include "sim/sim_arrivals.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "sim/sim_fault.h"

using std::chrono::microseconds;

namespace {

// A uniform draw in [0, 1) from 24 bits of the generator (the same on every library).
double Unit(std::mt19937& rng) {
    return static_cast<double>(rng() >> 8) / static_cast<double>(1u << 24);
}

}  // namespace

int SIM_ParseSwapTime(const std::string& text, SimSwapTime& swap, std::string& error) {
    SimSwapTime parsed;
    std::string rest = text;
    if (text.rfind("uniform:", 0) == 0) {
        parsed.kind = SimSwapTime::Kind::Uniform;
        rest = text.substr(8);
        const auto dash = rest.find('-');
        if (dash == std::string::npos || !SIM_ParseDuration(rest.substr(0, dash), parsed.a) ||
            !SIM_ParseDuration(rest.substr(dash + 1), parsed.b) || parsed.b < parsed.a) {
            error = "bad swap time '" + text + "': use e.g. uniform:3s-6s";
            return 0;
        }
    } else {
        if (text.rfind("exp:", 0) == 0) {
            parsed.kind = SimSwapTime::Kind::Exponential;
            rest = text.substr(4);
        }
        if (!SIM_ParseDuration(rest, parsed.a)) {
            error = "bad swap time '" + text + "': use e.g. 4s, uniform:3s-6s or exp:4s";
            return 0;
        }
    }
    swap = parsed;
    return 1;
}

microseconds SIM_DrawSwapTime(const SimSwapTime& swap, std::mt19937& rng) {
    const double a = static_cast<double>(swap.a.count());
    switch (swap.kind) {
        case SimSwapTime::Kind::Uniform:
            return microseconds(static_cast<long long>(
                a + Unit(rng) * static_cast<double>((swap.b - swap.a).count())));
        case SimSwapTime::Kind::Exponential:
            return microseconds(
                static_cast<long long>(std::min(5.0, -std::log(1.0 - Unit(rng))) * a));
        case SimSwapTime::Kind::Fixed:
        default:
            return swap.a;
    }
}

std::string SIM_HandsetSerial(std::uint32_t seed, int handset) {
    char text[32];
    std::snprintf(text, sizeof text, "S%u-%04d", static_cast<unsigned>(seed), handset + 1);
    return text;
}

std::string SIM_ByIdName(const std::string& serial) {
    return "usb-Pelor_Simulated_Handset_" + serial + "-if00";
}
