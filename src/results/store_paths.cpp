#include <cstdlib>

#include "config/paths.h"
#include "results/results_store.h"

namespace {
std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v != nullptr ? v : "";
}
}  // namespace

std::string RESULTS_DefaultDatabasePath() {
#ifdef _WIN32
    const std::string base = Env("LOCALAPPDATA");
    if (base.empty()) return "";
    return JoinPath(JoinPath(base, "pelor"), "results.db");
#else
    std::string base = Env("XDG_DATA_HOME");
    // A relative XDG_DATA_HOME is invalid and is ignored, as the base directory rules say.
    if (base.empty() || base[0] != '/') {
        const std::string home = Env("HOME");
        if (home.empty()) return "";
        base = home + "/.local/share";
    }
    return base + "/pelor/results.db";
#endif
}
