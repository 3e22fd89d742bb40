// What `pelor doctor` finds, against pseudo-terminals standing in for USB serial ports: a free
// port, one this user may not open (checked for real by a child that drops to nobody, and
// with an injected account), one held by another process (a forked child that opens it), and
// the services that claim newly plugged handsets (an injected process folder).
// POSIX only: pseudo-terminals, /proc and forked children.
#if !defined(_WIN32)

#include "transport/port_diagnostics.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/pty_pair.h"
#include "transport/port_table.h"
#include "transport/transport_test_util.h"
#include "transport/unique_fd.h"

namespace fs = std::filesystem;

namespace {

using transport_test::TempDir;

// The line that mentions needle, or an empty line of level kOk when none does.
DiagLine LineWith(const DiagResult& result, const std::string& needle) {
    for (const DiagLine& line : result.lines)
        if (line.text.find(needle) != std::string::npos) return line;
    return DiagLine{DiagLevel::kOk, std::string()};
}

std::string AllText(const DiagResult& result) {
    std::string text;
    for (const DiagLine& line : result.lines) text += line.text + "\n";
    return text;
}

unsigned DialoutGid() {
    const group* g = ::getgrnam("dialout");
    return g != nullptr ? g->gr_gid : 20;
}

void WriteText(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
}

// A bench under a temporary folder: dev/ holds links named like USB serial ports to
// pseudo-terminal slaves, proc/ is an empty process folder unless a test fills it, and the
// udev rule is looked for only in rule/.
class PortDiagnostics : public ::testing::Test {
protected:
    PortDiagnostics() = default;
    explicit PortDiagnostics(TempDir::ForOtherUsers where) : dir_(where) {}

    void SetUp() override {
        ASSERT_FALSE(dir_.path().empty());
        fs::create_directories(Dev());
        fs::create_directories(Proc());
        options_.devDir = Dev();
        options_.procDir = Proc();
        options_.ruleFiles = {dir_.File("rule/70-pelor.rules")};
        options_.sysTtyDir = dir_.File("sys");
        PORTTABLE_Clear();
    }
    void TearDown() override { PORTTABLE_Clear(); }

    std::string Dev() const { return dir_.File("dev"); }
    std::string Proc() const { return dir_.File("proc"); }

    // dev/NAME links to the slave of a new pseudo-terminal; returns the slave's path.
    std::string AddPort(const std::string& name) {
        ptys_.push_back(std::make_unique<PtyPair>());
        EXPECT_TRUE(ptys_.back()->ok());
        const std::string slave = ptys_.back()->slavePath();
        fs::create_symlink(slave, Dev() + "/" + name);
        return slave;
    }
    void InstallRule() { WriteText(options_.ruleFiles[0], "# rule\n"); }

    TempDir dir_;
    DiagOptions options_;
    std::vector<std::unique_ptr<PtyPair>> ptys_;
};

// The bench of a test that hands its ports to another user: its folders must be where that
// user can reach them, so not under TMPDIR (which may lie in a private home folder).
class PortDiagnosticsAsAnotherUser : public PortDiagnostics {
protected:
    PortDiagnosticsAsAnotherUser() : PortDiagnostics(TempDir::kForOtherUsers) {}
};

// What the check said as another user: its lines ("F text", "W text", "O text"), or that the
// user could not even enter the bench's folders.
struct OtherUserCheck {
    bool reached = true;
    std::vector<std::string> lines;
};

constexpr int kCannotReachBench = 5;

// Runs the check in a child that has dropped to uid and gid 65534 with the given extra groups.
OtherUserCheck CheckAsNobody(const DiagOptions& options, const std::vector<gid_t>& groups) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return {};
    UniqueFd readEnd(pipeFds[0]);
    UniqueFd writeEnd(pipeFds[1]);
    const pid_t pid = ::fork();
    if (pid < 0) return {};
    if (pid == 0) {
        readEnd.reset();
        if (::setgroups(groups.size(), groups.data()) != 0 || ::setgid(65534) != 0 ||
            ::setuid(65534) != 0) {
            ::_exit(3);
        }
        if (::access(options.devDir.c_str(), R_OK | X_OK) != 0) ::_exit(kCannotReachBench);
        const DiagResult result = PORTDIAG_Check(options);
        std::string out;
        for (const DiagLine& l : result.lines) {
            out += l.level == DiagLevel::kFail ? 'F' : (l.level == DiagLevel::kWarn ? 'W' : 'O');
            out += " " + l.text + "\n";
        }
        const char* p = out.data();
        std::size_t left = out.size();
        while (left > 0) {
            const ssize_t n = ::write(writeEnd.get(), p, left);
            if (n <= 0) ::_exit(4);
            p += n;
            left -= static_cast<std::size_t>(n);
        }
        ::_exit(0);
    }
    writeEnd.reset();
    std::string text;
    char buffer[512];
    for (ssize_t n; (n = ::read(readEnd.get(), buffer, sizeof buffer)) > 0;) text.append(buffer, n);
    int status = 0;
    ::waitpid(pid, &status, 0);
    OtherUserCheck check;
    if (WIFEXITED(status) && WEXITSTATUS(status) == kCannotReachBench) {
        check.reached = false;
        return check;
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
    for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
         start = end + 1) {
        check.lines.push_back(text.substr(start, end - start));
    }
    return check;
}

// A child process named "holder" that keeps device open (and, if asked, its exclusive lock)
// until it is destroyed.
class Holder {
public:
    Holder(const std::string& device, bool lock) {
        int ready[2], go[2];
        if (::pipe(ready) != 0) return;
        if (::pipe(go) != 0) {
            ::close(ready[0]);
            ::close(ready[1]);
            return;
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(ready[0]);
            ::close(go[1]);
            ::prctl(PR_SET_NAME, "holder", 0, 0, 0);
            const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            const bool ok = fd >= 0 && (!lock || ::flock(fd, LOCK_EX | LOCK_NB) == 0);
            const char answer = ok ? '1' : '0';
            if (::write(ready[1], &answer, 1) != 1) ::_exit(2);
            char c;
            while (::read(go[0], &c, 1) > 0) {
            }
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(go[0]);
        go_.reset(go[1]);
        char answer = '0';
        if (pid_ > 0 && ::read(ready[0], &answer, 1) == 1 && answer == '1') ok_ = true;
        ::close(ready[0]);
    }
    ~Holder() {
        go_.reset();
        if (pid_ > 0) ::waitpid(pid_, nullptr, 0);
    }
    Holder(const Holder&) = delete;
    Holder& operator=(const Holder&) = delete;

    bool ok() const { return ok_; }
    int pid() const { return static_cast<int>(pid_); }

private:
    pid_t pid_ = -1;
    UniqueFd go_;
    bool ok_ = false;
};

}  // namespace

TEST_F(PortDiagnostics, NoPortIsABlockerThatSaysToConnectAHandset) {
    const DiagResult result = PORTDIAG_Check(options_);
    EXPECT_TRUE(result.blocked);
    ASSERT_FALSE(result.lines.empty());
    EXPECT_EQ(result.lines[0].level, DiagLevel::kFail);
    EXPECT_NE(result.lines[0].text.find("no serial ports found"), std::string::npos);
}

TEST_F(PortDiagnostics, FreePortsOpenAndShowTheirPortNumbers) {
    AddPort("ttyUSB0");
    AddPort("ttyACM0");
    PORTTABLE_Set(5, Dev() + "/ttyACM0");  // known from an earlier session
    InstallRule();
    const DiagResult result = PORTDIAG_Check(options_);

    EXPECT_FALSE(result.blocked) << AllText(result);
    const DiagLine acm = LineWith(result, "COM5 ");
    EXPECT_EQ(acm.level, DiagLevel::kOk);
    EXPECT_NE(acm.text.find("opens read/write"), std::string::npos) << acm.text;
    const DiagLine usb = LineWith(result, Dev() + "/ttyUSB0");
    EXPECT_EQ(usb.text.rfind("COM1 ", 0), 0u) << usb.text;  // the lowest free number
    EXPECT_EQ(LineWith(result, "no ModemManager or brltty").level, DiagLevel::kOk);
    EXPECT_EQ(LineWith(result, "udev rule").level, DiagLevel::kOk);
}

TEST_F(PortDiagnosticsAsAnotherUser, ARefusedOpenNamesTheGroupAndHowToJoinIt) {
    if (::getuid() != 0) GTEST_SKIP() << "needs root to hand the port to another user";
    const std::string slave = AddPort("ttyUSB0");
    // As a USB serial port is: root:dialout crw-rw----.
    ASSERT_EQ(::chown(slave.c_str(), 0, DialoutGid()), 0);
    ASSERT_EQ(::chmod(slave.c_str(), 0660), 0);

    const OtherUserCheck check = CheckAsNobody(options_, {});
    if (!check.reached) {
        GTEST_SKIP() << "uid 65534 cannot enter " << Dev()
                     << ": the system's temporary folder is closed to other users here";
    }
    const std::vector<std::string>& outsider = check.lines;
    ASSERT_FALSE(outsider.empty());
    const std::string& line = outsider[0];
    EXPECT_EQ(line.rfind("F COM1 ", 0), 0u) << line;
    EXPECT_NE(line.find("permission denied: " + slave + " is root:dialout crw-rw----"),
              std::string::npos)
        << line;
    EXPECT_NE(line.find("add yourself to dialout: sudo usermod -aG dialout $USER, then log in "
                        "again"),
              std::string::npos)
        << line;
    EXPECT_NE(line.find("install the pelor package"), std::string::npos) << line;

    const std::vector<std::string> member =
        CheckAsNobody(options_, {static_cast<gid_t>(DialoutGid())}).lines;
    ASSERT_FALSE(member.empty());
    EXPECT_EQ(member[0].rfind("O COM1 ", 0), 0u) << member[0];
}

TEST_F(PortDiagnostics, BuiltInUartsWithHardwareAreListedAndMarked) {
    AddPort("ttyS0");
    WriteText(dir_.File("sys/ttyS0/type"), "4\n");  // a 16550A
    AddPort("ttyS1");
    WriteText(dir_.File("sys/ttyS1/type"), "0\n");  // no UART behind it
    AddPort("ttyS10");                              // its type cannot be read: listed
    EXPECT_EQ(PORTDIAG_BuiltinUarts(Dev(), options_.sysTtyDir),
              (std::vector<std::string>{Dev() + "/ttyS0", Dev() + "/ttyS10"}));

    DiagResult result = PORTDIAG_Check(options_);
    EXPECT_FALSE(result.blocked) << AllText(result);
    const DiagLine s0 = LineWith(result, "ttyS0 (built-in UART): opens read/write");
    EXPECT_EQ(s0.text.rfind("COM1 ", 0), 0u) << AllText(result);
    EXPECT_EQ(LineWith(result, "ttyS1 ").text, "");
    EXPECT_EQ(LineWith(result, "no serial ports found").text, "") << AllText(result);
    EXPECT_EQ(LineWith(result, "no USB serial port found, only the built-in UARTs").level,
              DiagLevel::kWarn)
        << AllText(result);

    // One that will not open is worth a warning, not a blocker: handsets come on USB.
    options_.tryOpen = [](const std::string&) { return EIO; };
    result = PORTDIAG_Check(options_);
    EXPECT_FALSE(result.blocked) << AllText(result);
    EXPECT_EQ(LineWith(result, "ttyS0 (built-in UART): ").level, DiagLevel::kWarn);

    // A USB port comes first and keeps the lowest number; the built-in UARTs follow it.
    options_.tryOpen = nullptr;
    PORTTABLE_Clear();
    AddPort("ttyUSB0");
    result = PORTDIAG_Check(options_);
    EXPECT_EQ(LineWith(result, "ttyUSB0").text.rfind("COM1 ", 0), 0u) << AllText(result);
    EXPECT_EQ(LineWith(result, "ttyS0 (built-in UART)").text.rfind("COM2 ", 0), 0u);
    EXPECT_EQ(LineWith(result, "no USB serial port").text, "");
}

TEST_F(PortDiagnostics, WithoutTheRuleTheAdviceCoversASourceBuild) {
    AddPort("ttyUSB0");
    const DiagResult result = PORTDIAG_Check(options_);
    const DiagLine rule = LineWith(result, "no udev rule for handsets");
    EXPECT_EQ(rule.level, DiagLevel::kWarn);
    EXPECT_NE(rule.text.find("install the pelor package"), std::string::npos) << rule.text;
    EXPECT_NE(rule.text.find("sudo cp packaging/70-pelor.rules /etc/udev/rules.d/"),
              std::string::npos)
        << rule.text;
}

TEST_F(PortDiagnostics, PermissionAdviceFollowsTheAccountAndTheRule) {
    const std::string slave = AddPort("ttyUSB0");
    struct stat st {};
    ASSERT_EQ(::stat(slave.c_str(), &st), 0);
    const unsigned group = st.st_gid;
    ASSERT_EQ(::chmod(slave.c_str(), 0660), 0);  // as a USB serial port is

    options_.tryOpen = [](const std::string&) { return EACCES; };
    DiagIdentity who{1000, "op", {1000}, {1000, group}};
    options_.identity = who;
    DiagResult result = PORTDIAG_Check(options_);
    EXPECT_TRUE(result.blocked);
    EXPECT_NE(LineWith(result, "permission denied").text.find("op was added to "),
              std::string::npos)
        << AllText(result);
    EXPECT_NE(LineWith(result, "permission denied").text.find("log out and in again"),
              std::string::npos);

    who.sessionGroups.push_back(group);  // in the group, and still refused: an ACL
    options_.identity = who;
    result = PORTDIAG_Check(options_);
    EXPECT_NE(LineWith(result, "permission denied").text.find("getfacl " + slave),
              std::string::npos)
        << AllText(result);

    InstallRule();  // with the rule, re-plugging is the first thing to try
    result = PORTDIAG_Check(options_);
    EXPECT_NE(LineWith(result, "permission denied").text.find("re-plug the handset"),
              std::string::npos)
        << AllText(result);

    ASSERT_EQ(::chmod(slave.c_str(), 0620), 0);  // the group may not read: joining is no use
    result = PORTDIAG_Check(options_);
    const std::string text = LineWith(result, "permission denied").text;
    EXPECT_NE(text.find("gives its group no read/write access"), std::string::npos) << text;
    EXPECT_EQ(text.find("usermod"), std::string::npos) << text;
}

TEST_F(PortDiagnostics, APortHeldByAnotherProcessNamesItAndItsPid) {
    const std::string slave = AddPort("ttyUSB0");
    options_.procDir = "/proc";
    {
        Holder holder(slave, /*lock=*/false);
        ASSERT_TRUE(holder.ok());
        const DiagResult result = PORTDIAG_Check(options_);
        EXPECT_TRUE(result.blocked);
        const DiagLine line = LineWith(result, "COM1 ");
        EXPECT_EQ(line.level, DiagLevel::kFail);
        EXPECT_NE(line.text.find("busy: held by holder (pid " + std::to_string(holder.pid()) +
                                 "): close it before a download"),
                  std::string::npos)
            << line.text;
    }
    {
        Holder locker(slave, /*lock=*/true);  // as another station would hold it
        ASSERT_TRUE(locker.ok());
        EXPECT_EQ(PORTDIAG_TryOpen(Dev() + "/ttyUSB0"), EBUSY);
        const DiagLine line = LineWith(PORTDIAG_Check(options_), "COM1 ");
        EXPECT_NE(line.text.find("held by holder (pid " + std::to_string(locker.pid())),
                  std::string::npos)
            << line.text;

        // A lock whose holder this user cannot see is still "busy".
        options_.procDir = Proc();
        const DiagLine unseen = LineWith(PORTDIAG_Check(options_), "COM1 ");
        EXPECT_EQ(unseen.level, DiagLevel::kFail);
        EXPECT_NE(unseen.text.find("busy: held by another program"), std::string::npos)
            << unseen.text;
    }
    options_.procDir = "/proc";
    EXPECT_FALSE(PORTDIAG_Check(options_).blocked);  // free again once the holder is gone
}

TEST_F(PortDiagnostics, HoldersAreFoundThroughTheFdLinksOfTheProcessFolder) {
    const std::string slave = AddPort("ttyUSB0");
    const std::string proc = Proc();
    WriteText(proc + "/812/comm", "ModemManager\n");
    fs::create_directories(proc + "/812/fd");
    fs::create_symlink("/dev/null", proc + "/812/fd/0");
    fs::create_symlink(slave, proc + "/812/fd/9");
    WriteText(proc + "/40/comm", "bash\n");
    fs::create_directories(proc + "/40/fd");
    fs::create_symlink("/dev/null", proc + "/40/fd/0");
    WriteText(proc + "/self/comm", "pelor\n");  // no pid: not a process entry
    options_.tryOpen = [](const std::string&) { return 0; };

    const std::vector<DiagProcess> holders = PORTDIAG_Holders(proc, slave, 0);
    ASSERT_EQ(holders.size(), 1u);
    EXPECT_EQ(holders[0].pid, 812);
    EXPECT_EQ(holders[0].name, "ModemManager");
    EXPECT_TRUE(PORTDIAG_Holders(proc, slave, 812).empty());  // the checking process itself

    const DiagLine line = LineWith(PORTDIAG_Check(options_), "COM1 ");
    EXPECT_EQ(line.level, DiagLevel::kFail);
    EXPECT_NE(line.text.find("busy: held by ModemManager (pid 812)"), std::string::npos)
        << line.text;
    EXPECT_NE(line.text.find("udev rule tells it to leave handsets alone"), std::string::npos)
        << line.text;
}

TEST_F(PortDiagnostics, ServicesThatClaimHandsetsAreNamedWithoutBlocking) {
    AddPort("ttyUSB0");
    WriteText(Proc() + "/812/comm", "ModemManager\n");
    WriteText(Proc() + "/900/comm", "brltty\n");
    WriteText(Proc() + "/77/comm", "bash\n");

    DiagResult result = PORTDIAG_Check(options_);
    EXPECT_FALSE(result.blocked) << AllText(result);
    DiagLine mm = LineWith(result, "ModemManager (pid 812) is running");
    EXPECT_EQ(mm.level, DiagLevel::kWarn) << AllText(result);
    EXPECT_NE(mm.text.find("install the pelor package"), std::string::npos) << mm.text;
    const DiagLine brltty = LineWith(result, "brltty (pid 900) is running");
    EXPECT_EQ(brltty.level, DiagLevel::kWarn) << AllText(result);
    EXPECT_NE(brltty.text.find("sudo apt remove brltty"), std::string::npos);
    EXPECT_EQ(LineWith(result, "bash").text, "");
    EXPECT_EQ(LineWith(result, "udev rule").level, DiagLevel::kWarn);

    InstallRule();  // the rule keeps ModemManager away: nothing left to do about it
    result = PORTDIAG_Check(options_);
    mm = LineWith(result, "ModemManager (pid 812) is running");
    EXPECT_EQ(mm.level, DiagLevel::kOk);
    EXPECT_NE(mm.text.find("tells it to leave handsets alone"), std::string::npos) << mm.text;
}

TEST_F(PortDiagnostics, APortGoneWhileCheckedSaysSo) {
    AddPort("ttyUSB0");
    options_.tryOpen = [](const std::string&) { return ENODEV; };
    const DiagResult result = PORTDIAG_Check(options_);
    EXPECT_TRUE(result.blocked);
    EXPECT_NE(LineWith(result, "COM1 ").text.find("no such device (unplugged?)"), std::string::npos)
        << AllText(result);
}

TEST(PortDiagnosticsIdentity, TheCurrentUserIsInTheGroupsItRunsWith) {
    const DiagIdentity who = PORTDIAG_CurrentIdentity();
    EXPECT_EQ(who.uid, static_cast<unsigned>(::getuid()));
    EXPECT_FALSE(who.user.empty());
    EXPECT_NE(std::find(who.sessionGroups.begin(), who.sessionGroups.end(),
                        static_cast<unsigned>(::getegid())),
              who.sessionGroups.end());
}

#endif  // !defined(_WIN32)
