// The link's simulation from the command line: runs schedules by seed and prints every one that
// breaks the oracle with its seed and what broke, and a summary.
//   link_simulation [--first SEED] [--count N]   seeds SEED .. SEED+N-1 (default 1, 10000)
//   link_simulation --seed N [--verbose]          one schedule, alone (--verbose: the handset's
//                                                  log beside the station's frames)
// Exit status 0 when every schedule held, 1 when one did not, 2 for a usage error.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "schedule.h"
#include "simulation.h"
#include "work_dir.h"

namespace {

bool Number(const char* text, unsigned long long& out) {
    char* end = nullptr;
    out = std::strtoull(text, &end, 10);
    return end != text && *end == '\0';
}

int Usage() {
    std::fprintf(stderr,
                 "usage: link_simulation [--first SEED] [--count N] | --seed N [--verbose]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    unsigned long long first = 1, count = 10000;
    bool one = false, verbose = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--seed" && hasValue && Number(argv[++i], first)) {
            one = true;
            count = 1;
        } else if (arg == "--first" && hasValue && Number(argv[++i], first)) {
        } else if (arg == "--count" && hasValue && Number(argv[++i], count)) {
        } else if (arg == "--verbose") {
            verbose = true;
        } else {
            return Usage();
        }
    }
    linksim::WorkDir dir;
    const auto start = std::chrono::steady_clock::now();
    unsigned long long failed = 0, done = 0;
    double virtualSeconds = 0;
    for (unsigned long long seed = first; seed < first + count; ++seed) {
        const linksim::Schedule schedule = linksim::Draw(seed);
        const linksim::Verdict v = linksim::Run(schedule, dir.path(), verbose);
        done += v.done ? 1 : 0;
        virtualSeconds += v.virtualUs / 1e6;
        if (one) {
            std::printf("%s\n%s: %s\n", linksim::Describe(schedule).c_str(),
                        v.ok ? "held" : "FAILED",
                        v.ok ? (v.done ? "done" : v.text.c_str()) : v.failure.c_str());
            if (verbose) std::fputs(v.details.c_str(), stdout);
        } else if (!v.ok) {
            std::printf("FAILED %s\n  %s\n  rerun: link_simulation --seed %llu --verbose\n",
                        linksim::Describe(schedule).c_str(), v.failure.c_str(), seed);
            std::fflush(stdout);
        }
        failed += v.ok ? 0 : 1;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf(
        "link simulation: %llu schedules (seeds %llu to %llu), %llu failed, %llu done, "
        "%llu not done; %.1f s (%.0f schedules/s), %.0f s of virtual time\n",
        count, first, first + count - 1, failed, done, count - done, seconds,
        seconds > 0 ? count / seconds : 0.0, virtualSeconds);
    return failed == 0 ? 0 : 1;
}
