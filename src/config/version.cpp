#include "config/version.h"

#include "pelor_version.h"

const char* PELOR_VersionNumber() {
    return PELOR_VERSION;
}

const char* PELOR_SourceRevision() {
    return PELOR_REVISION;
}

std::string PELOR_VersionText() {
    std::string text = PELOR_VERSION;
    if (PELOR_REVISION[0] != '\0') text += std::string(" (") + PELOR_REVISION + ")";
    return text;
}
