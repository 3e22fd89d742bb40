#pragma once
// The pelor program run as a user runs it, for the command tests: in the test's folder, each
// argument quoted, nothing on stdin, stdout and stderr to files that are read back.
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

struct PelorRun {
    int status = -1;  // the exit status, -1 when it did not exit normally
    std::string out;
    std::string err;  // empty when stderr went into out
};

inline std::string Slurp(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Runs PELOR_EXE with args in dir. environment is put before the command as it stands
// ("XDG_DATA_HOME='/x'"); errIntoOut sends stderr where stdout goes.
inline PelorRun RunPelor(const std::filesystem::path& dir, const std::vector<std::string>& args,
                         const std::string& environment = "", bool errIntoOut = false) {
    std::string cmd = "cd '" + dir.string() + "' && " + environment +
                      (environment.empty() ? "" : " ") + "'" PELOR_EXE "'";
    for (const auto& a : args) cmd += " '" + a + "'";
    const std::string out = (dir / "out.txt").string();
    const std::string err = (dir / "err.txt").string();
    cmd +=
        " >'" + out + "' " + (errIntoOut ? std::string("2>&1") : "2>'" + err + "'") + " </dev/null";
    PelorRun r;
    const int raw = std::system(cmd.c_str());
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = Slurp(out);
    if (!errIntoOut) r.err = Slurp(err);
    return r;
}
