#pragma once
// Runs one schedule: the real channel job (FileDownload, through the same link and transport
// code the runner's workers use) on a station of its own whose clock is virtual, against the
// schedule's simulated handset on an in-memory line, in this thread; then checks the oracle
// against the handset's own log and flash:
//   - reported done  =>  the flash holds every image byte for byte, every request of the job
//     and every request up to the handset's last CLOSE was acknowledged (after as many "send
//     again" as it asked), that CLOSE was acknowledged, and GO reached the handset and was
//     neither refused nor asked for again past the resend limit;
//     and <= too, unless the operator stopped the channel, the port did not take a frame whole,
//     or a reply up to that CLOSE never reached the station intact (then the station cannot
//     know, and must not guess);
//   - a schedule whose faults are all recoverable ends done;
//   - every frame the station counts as answered was answered so by the handset, under that
//     frame's own sequence number, and the handset got exactly the frames the station sent;
//   - nothing but GO sent again follows GO (the handset restarts on it, so CLOSE's answer is
//     read first);
//   - a healthy line carries exactly the job's requests, each once;
//   - a frame the port did not take whole fails the job at step "write" with the system's error;
//   - the job ends within its time bounds (virtual time);
//   - the channel's last text and its outcome (what the JSON report shows) agree with the result.
#include <cstdint>
#include <string>

#include "link/outcome.h"
#include "schedule.h"

namespace linksim {

struct Verdict {
    bool ok = true;         // every check held
    std::string failure;    // the first check that did not, in words
    bool done = false;      // the station reported the channel done
    bool accepted = false;  // the handset's log and flash say it took the whole job
    std::int64_t virtualUs = 0;
    std::string text;  // the channel's last text
    JobOutcome outcome;
    std::string details;  // with detailed: the handset's log and the station's view, to debug
};

// Image files are written into workDir (an existing folder), replacing those of the last run.
Verdict Run(const Schedule& schedule, const std::string& workDir, bool detailed = false);

}  // namespace linksim
