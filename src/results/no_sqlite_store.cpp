// Builds without SQLite (the Windows cross build: Debian has no SQLite for MinGW) keep no
// results file.
#include "results/results_store.h"

std::unique_ptr<LocalResultsStore> RESULTS_OpenLocalStore(const std::string& /*path*/,
                                                          std::string* error) {
    *error = "this build of pelor has no results store (it was built without SQLite)";
    return nullptr;
}
