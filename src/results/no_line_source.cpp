// Builds without libpq cannot read a line's server, so they have no line to show.
#include "results/line_view.h"

std::unique_ptr<LineSource> RESULTS_OpenLineSource(const std::string& /*url*/,
                                                   const ServerLimits& /*limits*/,
                                                   const std::atomic<bool>* /*stop*/,
                                                   std::string* error) {
    *error = RESULTS_NoServerReason();
    return nullptr;
}
