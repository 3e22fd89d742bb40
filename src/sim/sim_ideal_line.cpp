#include "sim/sim_ideal_line.h"

#include <algorithm>
#include <random>

namespace {

using Micros = std::int64_t;
constexpr Micros kStep = 1000;
constexpr Micros kNone = -1;

// One socket as SimLine keeps it, with the ideal station's job on it.
struct Place {
    bool handset = false;
    bool ended = false;
    Micros endedAt = 0;
    Micros goAt = kNone;  // when its job takes GO; none before the job starts
    bool restarting = false;
    Micros backAt = 0;
};

}  // namespace

double SimIdealResult::PerHour() const {
    if (finishes.empty()) return 0;
    const double last = *std::max_element(finishes.begin(), finishes.end());
    return last > 0 ? 3600.0 * static_cast<double>(finishes.size()) / last : 0;
}

SimIdealResult SIM_IdealLine(const SimIdealOptions& o) {
    SimIdealResult result;
    if (o.sockets < 1 || o.handsets < 1) return result;
    std::mt19937 rng(o.seed);
    std::mt19937 restartRng(o.seed ^ 0x9E3779B9u);
    const Micros flash = o.flash.count();
    const Micros leave = o.leaveAfter.count();
    std::vector<Place> places(static_cast<std::size_t>(o.sockets));
    int plugged = 0;
    const auto plug = [&](Place& p, Micros now) {
        p = Place{};
        p.handset = true;
        if (!o.batch) p.goAt = now + flash;  // seen at once, started at once
        ++plugged;
    };
    for (Place& p : places) {
        if (plugged < o.handsets) plug(p, 0);
    }
    int swapping = -1;
    Micros swapEnds = 0;
    bool batchSwapping = false;
    const auto due = [&](const Place& p, Micros now) {
        return p.handset && p.ended && now - p.endedAt >= leave;
    };
    Micros lastChange = 0;  // a line where nothing happens for an hour never finishes
    for (Micros now = 0; static_cast<int>(result.finishes.size()) < o.handsets; now += kStep) {
        if (now - lastChange > Micros{3600} * 1000000) break;
        for (Place& p : places) {
            if (p.restarting && now >= p.backAt) {
                restartRng();  // its firmware's answer, drawn as the line draws it
                p.restarting = false;
                p.handset = true;
                p.ended = true;
                p.endedAt = now;
            }
            if (p.handset && !p.ended && p.goAt != kNone && now >= p.goAt) {
                result.finishes.push_back(static_cast<double>(p.goAt) / 1e6);
                lastChange = now;
                if (o.restart) {
                    p.handset = false;
                    p.restarting = true;
                    p.backAt = now + SIM_DrawSwapTime(o.swap, restartRng).count();
                } else {
                    p.ended = true;
                    p.endedAt = now;
                }
            }
        }
        // The operator, as SimLine's.
        if (swapping >= 0 && now >= swapEnds) {
            if (plugged < o.handsets) plug(places[swapping], now);
            swapping = -1;
        }
        if (swapping < 0) {
            int next = -1;
            if (o.batch) {
                bool waiting = false;
                if (!batchSwapping) {
                    for (const Place& p : places)
                        waiting |= (p.handset || p.restarting) && !due(p, now);
                }
                for (int i = 0; i < o.sockets && !waiting && next < 0; ++i) {
                    if (due(places[i], now)) next = i;
                }
            } else {
                for (int i = 0; i < o.sockets; ++i) {
                    if (due(places[i], now) &&
                        (next < 0 || places[i].endedAt < places[next].endedAt)) {
                        next = i;
                    }
                }
            }
            if (next >= 0) {
                places[next].handset = false;
                swapping = next;
                swapEnds = now + SIM_DrawSwapTime(o.swap, rng).count();
                batchSwapping = o.batch;
                lastChange = now;
            } else {
                batchSwapping = false;
            }
        }
        if (o.batch && swapping < 0) {
            // Download the moment every socket holds a fresh handset (or none is left for it).
            bool ready = true;
            bool any = false;
            for (const Place& p : places) {
                if (p.handset && !p.ended && p.goAt == kNone) {
                    any = true;
                } else if (p.handset || p.restarting || plugged < o.handsets) {
                    ready = false;
                }
            }
            if (ready && any) {
                for (Place& p : places) {
                    if (p.handset) p.goAt = now + flash;
                }
            }
        }
    }
    return result;
}
