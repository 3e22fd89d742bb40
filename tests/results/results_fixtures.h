#pragma once
// Realistic job records for the results tests.
#include <string>

#include "results/job_record.h"

namespace results_test {

// A job of channel ch that started at startMs and took seconds; failed ones stop at "ERR: Unlock".
inline JobRecord Job(int ch, bool ok, std::int64_t startMs = 1796668301000LL, double seconds = 40,
                     const std::string& station = "bench-3") {
    JobRecord r;
    r.jobId = RESULTS_NewJobId();
    r.station = station;
    r.channel = ch;
    r.port = "/dev/ttyUSB" + std::to_string(ch);
    r.device =
        "/dev/serial/by-path/pci-0000:00:14.0-usb-0:" + std::to_string(ch + 1) + ":1.0-port0";
    r.startedAt = RESULTS_FormatUtc(startMs);
    r.endedAt = RESULTS_FormatUtc(startMs + static_cast<std::int64_t>(seconds * 1000));
    r.images = {{"partition.mbn", 300, std::string(64, 'a')},
                {"WZRTAll.mbn", 4194304, std::string(64, 'b')}};
    r.boot = ch % 2 == 1;
    r.erase = ch == 3 ? "all" : "none";
    r.format = true;
    r.resourceAddress = "0";
    r.bytesSent = ok ? 4194604 : 0;
    r.result = ok ? kResultDone : kResultFailed;
    r.lastText = ok ? "Download Complete! [40 sec]" : "ERR: Unlock";
    r.version = "1.3.0";
    return r;
}

}  // namespace results_test
