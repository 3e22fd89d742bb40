#pragma once
// One schedule of the link's simulation: everything a run depends on, drawn from one seed, so
// that a seed replays exactly. The images a channel writes, how the line carries the bytes
// (pace, reply latencies, how reads are cut), and the faults the simulated handset commits.
#include <cstdint>
#include <string>
#include <vector>

#include "sim/sim_fault.h"

namespace linksim {

// A small, repeatable random source (splitmix64): the same numbers on every platform.
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t Next();
    // Uniform in [lo, hi].
    std::int64_t Between(std::int64_t lo, std::int64_t hi);
    bool Chance(int percent) { return Between(1, 100) <= percent; }
    // A fresh source for one concern of the run, independent of how much the others draw.
    Random Split(std::uint64_t stream) const {
        return Random(state_ ^ (stream * 0x9E3779B97F4A7C15u));
    }

private:
    std::uint64_t state_;
};

// How the bytes waiting on one side of the line are cut into reads.
enum class ReadCut {
    All,      // whatever is waiting (several frames at once)
    OneByte,  // a byte at a time
    Small,    // 1 to 12 bytes: frames split anywhere, escapes included
    Mixed,    // each read one of the above
};

struct Images {
    bool code = true;               // the Code row (partition, AMSS header, AMSS)
    bool boot = false;              // Change Boot Area: the boot chain too
    int erase = 0;                  // 0 none, 1 all NAND, 2 all but the backup area
    bool resource = false;          // the Resource row
    bool format = true;             // FS_FORMAT (else FS_INIT) before the resource
    std::uint32_t codeAddress = 0;  // every code image's address; the AMSS skips this much
    std::uint32_t resourceAddress = 0;
    std::uint32_t partition = 0;       // bytes of each image (the AMSS: past its address)
    std::uint32_t bootImages[5] = {};  // pbl, qcsblhd_cfgdata, qcsbl, oemsblhd, oemsbl
    std::uint32_t amssHeader = 0;
    std::uint32_t amss = 0;
    std::uint32_t resourceBytes = 0;
};

struct Line {
    std::uint32_t baud = 0;         // toward the handset at baud/10 bytes a second; 0 at once
    int writeDelayMs = 0;           // the station's pause before every write
    std::int64_t latencyMaxUs = 0;  // each reply waits 0 to this long, drawn per frame
    std::int64_t programUs = 0;     // the handset's time to program a block
    std::int64_t eraseUs = 0;       // the handset's time to erase a block
    ReadCut stationReads = ReadCut::All;
    ReadCut handsetReads = ReadCut::All;
    // The station's write of this index (0 the first) fails, or takes only half the bytes when
    // cutShort; -1 none.
    int failWrite = -1;
    bool cutShort = false;
};

struct Schedule {
    std::uint64_t seed = 0;
    int channel = 0;
    Images images;
    Line line;
    std::vector<SimFault> faults;
    // True when every fault is one the station mends (a request asked for again up to the
    // limit, noise between frames, a late reply): such a run must end done.
    bool recoverable = true;
    // The operator stops the channel at this virtual time (microseconds from the start), or -1.
    std::int64_t stopAtUs = -1;
};

Schedule Draw(std::uint64_t seed);
// One line: "seed=42 ch3 code+boot+rsc erase=all amss=12 blocks ... faults=... (recoverable)".
std::string Describe(const Schedule& schedule);

// How many requests of each code the job sends on a healthy line, and their total: what the
// faults aim at, and what a healthy run must show exactly.
struct RequestCounts {
    int byCode[256] = {};
    int total = 0;
};
RequestCounts ExpectedRequests(const Images& images);

}  // namespace linksim
