// Builds without libpq (Windows: Debian has no libpq for MinGW) cannot reach a line's results
// server.
#include "results/results_store.h"

std::string RESULTS_NoServerReason() {
    return "this build of pelor cannot reach a results server (it was built without libpq)";
}

std::unique_ptr<ServerResultsStore> RESULTS_OpenServerStore(const std::string& /*url*/,
                                                            std::string* error,
                                                            const ServerLimits& /*limits*/,
                                                            const std::atomic<bool>* /*stop*/) {
    *error = RESULTS_NoServerReason();
    return nullptr;
}
