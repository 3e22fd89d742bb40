#pragma once
// What stops a bench from opening its handsets' ports, and what to do about each: the ports
// present and their port numbers, whether this user may open each, which program holds a
// port, and the services that grab newly plugged USB serial devices. Each finding is one line
// an operator can act on. Nothing here prints; the front end shows the lines.
#include <functional>
#include <optional>
#include <string>
#include <vector>

enum class DiagLevel {
    kOk,    // works
    kWarn,  // may get in the way; does not stop a download by itself
    kFail,  // stops a download until it is dealt with
};

struct DiagLine {
    DiagLevel level = DiagLevel::kOk;
    std::string text;
};

// A process that has a device open, or a service found running.
struct DiagProcess {
    int pid = 0;
    std::string name;  // its command name (/proc/PID/comm)
};

// Who runs the check. Group ids are numbers as the system gives them.
struct DiagIdentity {
    unsigned uid = 0;
    std::string user;                     // login name, or "uid N" when unknown
    std::vector<unsigned> sessionGroups;  // the groups this process runs with
    std::vector<unsigned> accountGroups;  // the account's groups in the group database now
};

// Where to look. The defaults are the running system's; tests point them elsewhere.
struct DiagOptions {
    std::string devDir = "/dev";
    std::string procDir = "/proc";
    // Where the kernel tells whether a built-in UART (ttyS*) has hardware behind it.
    std::string sysTtyDir = "/sys/class/tty";
    // The places the package's udev rule may be in; the first that exists counts.
    std::vector<std::string> ruleFiles = {"/etc/udev/rules.d/70-pelor.rules",
                                          "/usr/lib/udev/rules.d/70-pelor.rules",
                                          "/lib/udev/rules.d/70-pelor.rules"};
    // Tries to open a device as the station would (read/write, non-blocking, then an
    // exclusive lock) and lets it go: 0 when it opened, else the errno (EBUSY for a lock held
    // elsewhere). Empty: PORTDIAG_TryOpen.
    std::function<int(const std::string& device)> tryOpen;
    // Empty: PORTDIAG_CurrentIdentity().
    std::optional<DiagIdentity> identity;
    // This process is left out of the holders found (its own probe is no holder).
    int selfPid = 0;  // 0: getpid()
};

struct DiagResult {
    std::vector<DiagLine> lines;
    bool blocked = false;  // a kFail line is among them
};

// Runs every check. Port numbers come from the port table (PORTTABLE_Assign: a device seen
// for the first time is shown with the number it would get).
DiagResult PORTDIAG_Check(const DiagOptions& options);

// The built-in UARTs under devDir (ttyS0, ttyS1, ...) that have hardware behind them: the kernel
// creates ttyS0..ttyS31 whether or not a UART is there, and says which are real in
// sysTtyDir/NAME/type (0: no UART). A port whose type cannot be read is listed.
std::vector<std::string> PORTDIAG_BuiltinUarts(const std::string& devDir,
                                               const std::string& sysTtyDir);

// 0 when device opens read/write and its exclusive lock is free, else an errno.
int PORTDIAG_TryOpen(const std::string& device);
// The processes under procDir with device open (its fd links resolve to the same path),
// other than excludePid, by pid.
std::vector<DiagProcess> PORTDIAG_Holders(const std::string& procDir, const std::string& device,
                                          int excludePid);
// The processes under procDir whose command name is one of names, by pid.
std::vector<DiagProcess> PORTDIAG_FindProcesses(const std::string& procDir,
                                                const std::vector<std::string>& names);
// The user, session groups and account groups of this process.
DiagIdentity PORTDIAG_CurrentIdentity();
