#pragma once
// `pelor flash --continuous`: production mode from the command line.
#include <cstdio>
#include <string>

#include "flash_run.h"
#include "jobs/continuous_runner.h"

struct ContinuousOutcome {
    int done = 0;
    int failed = 0;
};

// Runs production mode on the sockets of options.ports until options.maxJobs jobs have
// finished, or until interrupted: the first SIGINT or SIGTERM takes no new handsets and lets
// the running jobs finish, a second one stops them. Appends one JSON line per finished job to
// options.report as it finishes. Returns 0 when every finished job succeeded, 1 otherwise, 2 for
// a usage error or an unreadable input (nothing was sent then).
int CLI_RunFlashContinuous(const FlashOptions& options, std::FILE* out, std::FILE* err,
                           ContinuousOutcome* outcome);

// One report line (without its newline) for a finished job.
std::string CLI_ContinuousReportLine(const ContinuousJob& job);
