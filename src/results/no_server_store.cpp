// Builds without libpq (Windows) cannot reach a line's results server.
#include "results/results_store.h"

std::unique_ptr<ResultsStore> RESULTS_OpenServerStore(const std::string& /*url*/,
                                                      std::string* error) {
    *error = "this build of pelor cannot reach a results server (it was built without libpq)";
    return nullptr;
}
