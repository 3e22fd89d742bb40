// What stops a bench on POSIX: the ports under /dev, who may open them, who holds them (found
// through the fd links under /proc) and the services that grab newly plugged USB serial ports.
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <system_error>

#include "transport/port_diagnostics.h"
#include "transport/port_table.h"
#include "transport/unique_fd.h"

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kModemManager = "ModemManager";
constexpr std::string_view kBrltty = "brltty";
// The rule's file in this source tree and how to put it in place, for a station built here.
constexpr std::string_view kRuleFromSource =
    "from a source build: sudo cp packaging/70-pelor.rules /etc/udev/rules.d/ && sudo udevadm "
    "control --reload && sudo udevadm trigger (README, \"Serial ports on Linux\")";

// The pid a /proc entry stands for, or 0 when the entry is no process.
int PidOf(const std::string& name) {
    if (name.empty() || name.size() > 9 ||
        name.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    return std::atoi(name.c_str());
}

std::string CommandName(const fs::path& processDir) {
    std::ifstream in(processDir / "comm");
    std::string name;
    std::getline(in, name);
    return name.empty() ? std::string("?") : name;
}

// Every process under procDir, by pid.
std::vector<std::pair<int, fs::path>> Processes(const std::string& procDir) {
    std::vector<std::pair<int, fs::path>> found;
    std::error_code ec;
    for (fs::directory_iterator it(procDir, ec), end; !ec && it != end; it.increment(ec)) {
        const int pid = PidOf(it->path().filename().string());
        if (pid > 0) found.emplace_back(pid, it->path());
    }
    std::sort(found.begin(), found.end());
    return found;
}

std::string Resolved(const std::string& device) {
    std::error_code ec;
    const fs::path target = fs::canonical(device, ec);
    return ec ? device : target.string();
}

// "ModemManager (pid 812)", "minicom (pid 40), screen (pid 41)".
std::string Named(const std::vector<DiagProcess>& processes) {
    std::string text;
    for (const DiagProcess& p : processes) {
        if (!text.empty()) text += ", ";
        text += p.name + " (pid " + std::to_string(p.pid) + ")";
    }
    return text;
}

// What to do about a holder, by who it is.
std::string AdviceFor(const std::vector<DiagProcess>& holders) {
    for (const DiagProcess& p : holders) {
        if (p.name == kModemManager) {
            return "ModemManager probes newly plugged ports; the package's udev rule tells it to "
                   "leave handsets alone, or stop it: sudo systemctl stop ModemManager";
        }
        if (p.name == kBrltty) {
            return "brltty claims some USB-serial adapters; if the bench has no braille "
                   "display, remove it: sudo apt remove brltty";
        }
    }
    return "close it before a download";
}

std::string ModeText(mode_t mode) {
    std::string text = S_ISCHR(mode) ? "c" : (S_ISDIR(mode) ? "d" : "-");
    constexpr std::array<mode_t, 9> bits = {S_IRUSR, S_IWUSR, S_IXUSR, S_IRGRP, S_IWGRP,
                                            S_IXGRP, S_IROTH, S_IWOTH, S_IXOTH};
    constexpr std::string_view letters = "rwxrwxrwx";
    for (std::size_t i = 0; i < bits.size(); ++i) text += (mode & bits[i]) ? letters[i] : '-';
    return text;
}

std::string GroupName(unsigned gid) {
    std::array<char, 4096> buffer{};
    group entry{};
    group* found = nullptr;
    if (::getgrgid_r(static_cast<gid_t>(gid), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->gr_name != nullptr) {
        return found->gr_name;
    }
    return std::to_string(gid);
}

std::string UserName(unsigned uid) {
    std::array<char, 4096> buffer{};
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(static_cast<uid_t>(uid), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_name != nullptr) {
        return found->pw_name;
    }
    return std::to_string(uid);
}

bool Contains(const std::vector<unsigned>& groups, unsigned gid) {
    return std::find(groups.begin(), groups.end(), gid) != groups.end();
}

// Why this user may not open device and what gives access, in one sentence or two.
std::string PermissionAdvice(const std::string& device, const DiagIdentity& who,
                             const std::string& ruleFile) {
    struct stat st {};
    if (::stat(device.c_str(), &st) != 0) return "permission denied";
    const std::string group = GroupName(st.st_gid);
    std::string text = "permission denied: " + device + " is " + UserName(st.st_uid) + ":" + group +
                       " " + ModeText(st.st_mode);
    const bool groupMayOpen = (st.st_mode & S_IRGRP) && (st.st_mode & S_IWGRP);
    if (!groupMayOpen) {
        text += ", which gives its group no read/write access";
    } else if (Contains(who.sessionGroups, st.st_gid)) {
        text += "; " + who.user + " is in " + group +
                " yet may not open it: see its ACL (getfacl " + device + ")";
    } else if (Contains(who.accountGroups, st.st_gid)) {
        text += "; " + who.user + " was added to " + group +
                " after this session began: log out and in again (or run `newgrp " + group + "`)";
    } else {
        text += "; add yourself to " + group + ": sudo usermod -aG " + group +
                " $USER, then log in again";
    }
    if (!ruleFile.empty()) {
        text += "; the udev rule " + ruleFile +
                " gives the user at the bench's own screen access: re-plug the handset if it "
                "was plugged in before the rule was installed (it does not help over ssh)";
    } else {
        text +=
            "; or install the pelor package, whose udev rule gives the user at the bench's "
            "own screen access, or the rule alone " +
            std::string(kRuleFromSource);
    }
    return text;
}

std::string ReasonText(int error) {
    switch (error) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return "no such device (unplugged?)";
        case ENOTTY:
            return "not a serial port";
        default: {
            std::string text = std::generic_category().message(error);
            if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z') text[0] += 'a' - 'A';
            return text;
        }
    }
}

// builtin: a UART of the machine itself, marked as such; one that will not open is a warning,
// since handsets usually come on USB adapters.
DiagLine CheckPort(const std::string& device, const DiagOptions& options, const DiagIdentity& who,
                   const std::string& ruleFile, int selfPid, bool builtin = false) {
    const int number = PORTTABLE_Assign(device);
    const std::string resolved = Resolved(device);
    // A built-in UART goes by its own name (ttyS0), whatever a link of that name points to.
    const std::string name =
        builtin ? fs::path(device).filename().string() : PORTTABLE_ShortName(device);
    std::string label = number == 0 ? name : "COM" + std::to_string(number) + " " + name;
    if (builtin) label += " (built-in UART)";
    const std::string where = resolved == device ? device : device + " -> " + resolved;

    const int error = options.tryOpen ? options.tryOpen(device) : PORTDIAG_TryOpen(device);
    const std::vector<DiagProcess> holders = PORTDIAG_Holders(options.procDir, resolved, selfPid);

    DiagLine line;
    line.level = DiagLevel::kFail;
    if (error == 0 && holders.empty()) {
        line.level = DiagLevel::kOk;
        line.text = label + ": opens read/write (" + where + ")";
    } else if (error == 0 || error == EBUSY || error == EAGAIN) {
        if (holders.empty()) {
            // Other users' processes are hidden from all but root.
            line.text = label + ": busy: held by another program" +
                        (who.uid != 0 ? " (run `sudo pelor doctor` to see which)" : "");
        } else {
            line.text = label + ": busy: held by " + Named(holders) + ": " + AdviceFor(holders);
        }
    } else if (error == EACCES || error == EPERM) {
        line.text = label + ": " + PermissionAdvice(resolved, who, ruleFile);
    } else {
        line.text = label + ": " + ReasonText(error) + " (" + where + ")";
    }
    if (builtin && line.level == DiagLevel::kFail) line.level = DiagLevel::kWarn;
    return line;
}

bool IsBuiltinUartName(const std::string& name) {
    return name.size() > 4 && name.compare(0, 4, "ttyS") == 0 &&
           name.find_first_not_of("0123456789", 4) == std::string::npos;
}

// The kernel's port type of a built-in UART: 0 when no UART is there, -1 when it cannot be read.
int UartType(const std::string& sysTtyDir, const std::string& name) {
    std::ifstream in(fs::path(sysTtyDir) / name / "type");
    int type = -1;
    if (!(in >> type)) return -1;
    return type;
}

}  // namespace

std::vector<std::string> PORTDIAG_BuiltinUarts(const std::string& devDir,
                                               const std::string& sysTtyDir) {
    std::vector<std::pair<int, std::string>> found;
    std::error_code ec;
    for (fs::directory_iterator it(devDir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (!IsBuiltinUartName(name) || UartType(sysTtyDir, name) == 0) continue;
        found.emplace_back(std::atoi(name.c_str() + 4), it->path().string());
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> devices;
    for (auto& [number, path] : found) devices.push_back(std::move(path));
    return devices;
}

int PORTDIAG_TryOpen(const std::string& device) {
    UniqueFd fd(::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd) return errno;
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) < 0 && (errno == EWOULDBLOCK || errno == EAGAIN)) {
        return EBUSY;
    }
    return 0;  // the lock, if taken, goes with the descriptor
}

std::vector<DiagProcess> PORTDIAG_Holders(const std::string& procDir, const std::string& device,
                                          int excludePid) {
    std::vector<DiagProcess> holders;
    if (device.empty()) return holders;
    for (const auto& [pid, dir] : Processes(procDir)) {
        if (pid == excludePid) continue;
        std::error_code ec;
        for (fs::directory_iterator it(dir / "fd", ec), end; !ec && it != end; it.increment(ec)) {
            std::error_code linkError;
            const fs::path target = fs::read_symlink(it->path(), linkError);
            if (!linkError && target == device) {
                holders.push_back({pid, CommandName(dir)});
                break;
            }
        }
    }
    return holders;
}

std::vector<DiagProcess> PORTDIAG_FindProcesses(const std::string& procDir,
                                                const std::vector<std::string>& names) {
    std::vector<DiagProcess> found;
    for (const auto& [pid, dir] : Processes(procDir)) {
        std::string name = CommandName(dir);
        if (std::find(names.begin(), names.end(), name) != names.end()) {
            found.push_back({pid, std::move(name)});
        }
    }
    return found;
}

DiagIdentity PORTDIAG_CurrentIdentity() {
    DiagIdentity who;
    who.uid = static_cast<unsigned>(::getuid());
    std::array<char, 4096> buffer{};
    passwd entry{};
    passwd* account = nullptr;
    const bool known =
        ::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &account) == 0 &&
        account != nullptr && account->pw_name != nullptr;
    who.user = known ? std::string(account->pw_name) : "uid " + std::to_string(who.uid);

    who.sessionGroups.push_back(static_cast<unsigned>(::getegid()));
    const int count = ::getgroups(0, nullptr);
    if (count > 0) {
        std::vector<gid_t> groups(static_cast<std::size_t>(count));
        const int got = ::getgroups(count, groups.data());
        for (int i = 0; i < got; ++i)
            who.sessionGroups.push_back(static_cast<unsigned>(groups[static_cast<std::size_t>(i)]));
    }

    if (known) {
        int n = 64;
        std::vector<gid_t> groups(static_cast<std::size_t>(n));
        if (::getgrouplist(account->pw_name, account->pw_gid, groups.data(), &n) < 0 && n > 0) {
            groups.resize(static_cast<std::size_t>(n));
            if (::getgrouplist(account->pw_name, account->pw_gid, groups.data(), &n) < 0) n = 0;
        }
        for (int i = 0; i < n; ++i)
            who.accountGroups.push_back(static_cast<unsigned>(groups[static_cast<std::size_t>(i)]));
    }
    return who;
}

DiagResult PORTDIAG_Check(const DiagOptions& options) {
    DiagResult result;
    const DiagIdentity who = options.identity ? *options.identity : PORTDIAG_CurrentIdentity();
    const int selfPid = options.selfPid != 0 ? options.selfPid : static_cast<int>(::getpid());
    std::string ruleFile;
    for (const std::string& candidate : options.ruleFiles) {
        std::error_code ec;
        if (fs::exists(candidate, ec)) {
            ruleFile = candidate;
            break;
        }
    }

    const std::vector<std::string> devices = PORTTABLE_ScanDevicesIn(options.devDir);
    const std::vector<std::string> builtin =
        PORTDIAG_BuiltinUarts(options.devDir, options.sysTtyDir);
    for (const std::string& device : devices) {
        result.lines.push_back(CheckPort(device, options, who, ruleFile, selfPid));
    }
    for (const std::string& device : builtin) {
        result.lines.push_back(CheckPort(device, options, who, ruleFile, selfPid, true));
    }
    if (devices.empty() && builtin.empty()) {
        result.lines.push_back(
            {DiagLevel::kFail,
             "no serial ports found: connect a handset (with a cable that carries data, and "
             "the handset in download mode if it needs one), then run `pelor doctor` again"});
    } else if (devices.empty()) {
        result.lines.push_back(
            {DiagLevel::kWarn,
             "no USB serial port found, only the built-in UART" +
                 std::string(builtin.size() == 1 ? "" : "s") +
                 " above: handsets usually come on USB cables; connect one (with a cable that "
                 "carries data, in download mode if it needs one) and run `pelor doctor` again"});
    }

    const std::vector<DiagProcess> modemManager =
        PORTDIAG_FindProcesses(options.procDir, {std::string(kModemManager)});
    const std::vector<DiagProcess> brltty =
        PORTDIAG_FindProcesses(options.procDir, {std::string(kBrltty)});
    if (!modemManager.empty()) {
        if (!ruleFile.empty()) {
            result.lines.push_back({DiagLevel::kOk, Named(modemManager) +
                                                        " is running; the udev rule " + ruleFile +
                                                        " tells it to leave handsets alone"});
        } else {
            result.lines.push_back(
                {DiagLevel::kWarn,
                 Named(modemManager) +
                     " is running and may hold a newly plugged handset for seconds: install "
                     "the pelor package (its udev rule tells ModemManager to leave handsets "
                     "alone), or stop it: sudo systemctl disable --now ModemManager"});
        }
    }
    if (!brltty.empty()) {
        result.lines.push_back(
            {DiagLevel::kWarn,
             Named(brltty) +
                 " is running and claims some USB-serial adapters: if the bench has no braille "
                 "display, remove it: sudo apt remove brltty"});
    }
    if (modemManager.empty() && brltty.empty()) {
        result.lines.push_back({DiagLevel::kOk, "no ModemManager or brltty running"});
    }

    if (!ruleFile.empty()) {
        result.lines.push_back(
            {DiagLevel::kOk, "udev rule " + ruleFile +
                                 ": the user at the bench's screen may open USB serial ports"});
    } else {
        result.lines.push_back(
            {DiagLevel::kWarn,
             "no udev rule for handsets (70-pelor.rules): USB serial ports open only to root "
             "and their group (dialout); install the pelor package for the rule, or " +
                 std::string(kRuleFromSource)});
    }

    result.blocked = std::any_of(result.lines.begin(), result.lines.end(),
                                 [](const DiagLine& l) { return l.level == DiagLevel::kFail; });
    return result;
}
