// A port in trouble as the operator meets it through `pelor`: `pelor doctor` says what stops a
// download (and exits 1), and `pelor flash` keeps "ERR: Open" on the bar while its report and
// its trace say why the port would not open.
// POSIX only: pseudo-terminals, /proc and forked children.
#if !defined(_WIN32)

#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "cli/pelor_command.h"
#include "support/pty_pair.h"
#include "transport/unique_fd.h"

namespace fs = std::filesystem;

namespace {

class PortTrouble : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/pelor-trouble-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
        fs::create_directories(dir_ / "dev");
        fs::create_directories(dir_ / "proc");
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    PelorRun Pelor(const std::vector<std::string>& args) {
        return RunPelor(dir_, args, "", /*errIntoOut=*/true);
    }

    // A code folder without the boot chain: enough for flash to get as far as the ports.
    fs::path CodeFolder() {
        const fs::path code = dir_ / "fw";
        fs::create_directories(code);
        std::ofstream(code / "partition.mbn") << std::string(300, 'p');
        std::ofstream(code / "fwhd.mbn") << std::string(1200, 'h');
        std::ofstream(code / "fw.mbn") << std::string(0x70000 + 40000, 'a');
        return code;
    }

    fs::path dir_;
};

}  // namespace

TEST_F(PortTrouble, DoctorExitsZeroWhenNothingStopsADownload) {
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    fs::create_symlink(pty.slavePath(), dir_ / "dev" / "ttyUSB0");
    const PelorRun r =
        Pelor({"doctor", "--dev", (dir_ / "dev").string(), "--proc", (dir_ / "proc").string()});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("ok    COM1 "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\nnothing stops a download\n"), std::string::npos) << r.out;
}

TEST_F(PortTrouble, DoctorExitsOneAndCountsWhatStopsADownload) {
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    fs::create_symlink(pty.slavePath(), dir_ / "dev" / "ttyUSB0");
    UniqueFd held(::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
    ASSERT_TRUE(held);
    ASSERT_EQ(::flock(held.get(), LOCK_EX | LOCK_NB), 0);
    std::ofstream(dir_ / "proc" / "x");  // not a process

    PelorRun r =
        Pelor({"doctor", "--dev", (dir_ / "dev").string(), "--proc", (dir_ / "proc").string()});
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("FAIL  COM1 "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("busy: held by another program"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\n1 problem to fix before a download\n"), std::string::npos) << r.out;

    // Through the real process folder the holder, this test, is named with its pid.
    r = Pelor({"doctor", "--dev", (dir_ / "dev").string()});
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("(pid " + std::to_string(::getpid()) + ")"), std::string::npos) << r.out;

    r = Pelor({"--help"});
    EXPECT_NE(r.out.find("doctor"), std::string::npos);
}

TEST_F(PortTrouble, FlashReportAndTraceSayWhyAPortWouldNotOpen) {
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    UniqueFd held(::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
    ASSERT_TRUE(held);
    ASSERT_EQ(::flock(held.get(), LOCK_EX | LOCK_NB), 0);  // another station has it
    const std::string gone = (dir_ / "dev" / "ttyUSB7").string();

    const PelorRun r =
        Pelor({"flash", "-p", pty.slavePath(), "-p", gone, "--code", CodeFolder().string(),
               "--delay", "0", "--report", (dir_ / "report.json").string(), "--trace",
               (dir_ / "trace.txt").string()});
    EXPECT_EQ(r.status, 1) << r.out;
    const auto report = nlohmann::json::parse(Slurp(dir_ / "report.json"));
    ASSERT_EQ(report["channels"].size(), 2u);
    EXPECT_EQ(report["channels"][0]["text"], "ERR: Open");  // the bar's text stays as it was
    EXPECT_EQ(report["channels"][0]["why"], "busy: held by another program");
    EXPECT_EQ(report["channels"][1]["text"], "ERR: Open");
    EXPECT_EQ(report["channels"][1]["why"], "no such device");
    for (const auto& channel : report["channels"]) {
        EXPECT_EQ(channel["step"], "open");
        EXPECT_EQ(channel["reason"], "port");
        EXPECT_EQ(channel["detail"], channel["why"]);
    }

    const std::string trace = Slurp(dir_ / "trace.txt");
    EXPECT_NE(trace.find("[Ch 0] open " + pty.slavePath() + ": busy: held by another program"),
              std::string::npos)
        << trace;
    EXPECT_NE(trace.find("[Ch 1] open " + gone + ": no such device"), std::string::npos) << trace;
    EXPECT_NE(r.out.find("SERIAL_DEVICE_Open(COM1) Failed!"), std::string::npos) << r.out;

    // The terminal says it too, with the port as given and where to look next.
    EXPECT_NE(r.out.find("error: ch0 " + pty.slavePath() +
                         ": the port would not open: busy: held by another program; `pelor "
                         "doctor` says what stops a download and what to do\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("error: ch1 " + gone + ": the port would not open: no such device;"),
              std::string::npos)
        << r.out;
}

TEST_F(PortTrouble, APortGivenByNumberIsNamedWithItsDevice) {
    const std::string gone = (dir_ / "dev" / "ttyUSB3").string();
    std::ofstream(dir_ / "pelorw.ini") << "[PORTS]\nCOM4=" << gone << "\n";
    const PelorRun r = Pelor({"flash", "-p", "COM4", "--code", CodeFolder().string()});
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("error: ch0 COM4 (" + gone + "): the port would not open: no such device"),
              std::string::npos)
        << r.out;
}

#endif  // !defined(_WIN32)
