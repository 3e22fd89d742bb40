#pragma once
// The station's version, the same for both programs, the JSON report, the job records and the
// installers: set once, by project() in the top CMakeLists.txt.
#include <string>

// "1.3.0".
const char* PELOR_VersionNumber();
// The source revision built from ("4f2a9c1e07", "-modified" appended for uncommitted changes),
// or "" when not built from a repository.
const char* PELOR_SourceRevision();
// "1.3.0 (4f2a9c1e07)", or "1.3.0" without a revision.
std::string PELOR_VersionText();
