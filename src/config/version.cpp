#include "config/version.h"

// PELOR_VersionNumber() and PELOR_SourceRevision() are written at build time
// (cmake/write_version.cmake).

std::string PELOR_VersionText() {
    std::string text = PELOR_VersionNumber();
    const char* revision = PELOR_SourceRevision();
    if (revision[0] != '\0') text += std::string(" (") + revision + ")";
    return text;
}
