// `pelor` as an operator runs it: the real program against simulated handsets on
// pseudo-terminals, judged by its exit status, its plain output lines and its JSON report.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/pelor_command.h"
#include "sim/sim_fault.h"
#include "sim/sim_handset.h"

namespace fs = std::filesystem;

namespace {

class PelorCommand : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/pelor-cli-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        for (auto& h : handsets_) h->Stop();
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    // Runs pelor with args (each quoted) in the test's folder; stdout is not a terminal.
    PelorRun Pelor(const std::vector<std::string>& args) { return RunPelor(dir_, args); }

    void WriteFile(const fs::path& p, std::size_t size, unsigned seed) {
        fs::create_directories(p.parent_path());
        std::ofstream out(p, std::ios::binary);
        unsigned x = seed * 2654435761u + 7u;
        for (std::size_t i = 0; i < size; ++i) {
            x = x * 1103515245u + 12345u;
            out.put(static_cast<char>(x >> 16));
        }
    }

    // A code folder "fw" without the boot chain; the AMSS image reaches past 0x70000.
    fs::path MakeCodeFolder() {
        const fs::path code = dir_ / "fw";
        WriteFile(code / "partition.mbn", 300, 1);
        WriteFile(code / "fwhd.mbn", 1200, 2);
        WriteFile(code / "fw.mbn", 0x70000 + 40000, 3);
        return code;
    }

    SimHandset& StartHandset(const std::string& faults = "") {
        SimOptions options;
        std::string error;
        if (!faults.empty()) {
            EXPECT_TRUE(SIM_ParseFaults(faults, options.faults, error)) << error;
        }
        auto h = SimHandset::StartOnPty(options, &error);
        EXPECT_TRUE(h) << error;
        handsets_.push_back(std::move(h));
        return *handsets_.back();
    }

    fs::path dir_;
    std::vector<std::unique_ptr<SimHandset>> handsets_;
};

bool HasLine(const std::string& text, const std::string& line) {
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
        if (l == line) return true;
    return false;
}

}  // namespace

TEST_F(PelorCommand, FlashesTwoHandsetsAndReportsEveryChannel) {
    const fs::path code = MakeCodeFolder();
    WriteFile(dir_ / "res.bin", 30000, 9);
    SimHandset& a = StartHandset();
    SimHandset& b = StartHandset();
    const PelorRun r = Pelor({"flash", "-p", a.DevicePath(), "-p", b.DevicePath(), "--code",
                              code.string(), "--resource", (dir_ / "res.bin").string(), "--delay",
                              "0", "--report", (dir_ / "report.json").string()});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(HasLine(r.out, "ch0 Download Start"));
    EXPECT_TRUE(HasLine(r.out, "ch1 Init AMSS"));
    EXPECT_TRUE(HasLine(r.out, "ch1 ORL4 Formating..."));
    EXPECT_TRUE(a.Started() && b.Started()) << "GO reached both handsets";

    const auto report = nlohmann::json::parse(Slurp(dir_ / "report.json"));
    EXPECT_TRUE(report["ok"].get<bool>());
    ASSERT_EQ(report["channels"].size(), 2u);
    const long long amssWritten = 40000;  // the AMSS image from its address 0x70000 on
    for (int ch = 0; ch < 2; ++ch) {
        const auto& c = report["channels"][ch];
        EXPECT_EQ(c["channel"], ch);
        EXPECT_TRUE(c["ok"].get<bool>());
        EXPECT_EQ(c["port"], ch == 0 ? a.DevicePath() : b.DevicePath());
        EXPECT_EQ(c["bytes"].get<long long>(), 300 + 1200 + amssWritten + 30000);
        EXPECT_EQ(c["text"].get<std::string>().rfind("Download Complete! [", 0), 0u);
    }
    EXPECT_EQ(a.ReadArea(0x77, 0x70000, 4), b.ReadArea(0x77, 0x70000, 4));
}

TEST_F(PelorCommand, AFailingChannelMakesTheRunFailWhileTheOtherFinishes) {
    const fs::path code = MakeCodeFolder();
    SimHandset& good = StartHandset();
    SimHandset& old = StartHandset("refuse:VERSION");
    const PelorRun r =
        Pelor({"flash", "-p", good.DevicePath(), "-p", old.DevicePath(), "--code", code.string(),
               "--delay", "0", "--report", (dir_ / "report.json").string()});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_TRUE(HasLine(r.out, "ch1 Downloader Version Incorrect"));
    EXPECT_TRUE(HasLine(r.out, "ch1 alert: Downloader Version Incorrect !!!!!!"));
    const auto report = nlohmann::json::parse(Slurp(dir_ / "report.json"));
    EXPECT_FALSE(report["ok"].get<bool>());
    EXPECT_TRUE(report["channels"][0]["ok"].get<bool>());
    EXPECT_FALSE(report["channels"][1]["ok"].get<bool>());
    EXPECT_EQ(report["channels"][1]["text"], "Downloader Version Incorrect");
    // The report says where and why, from the job's own record rather than from the bar text.
    EXPECT_EQ(report["channels"][0]["step"], "");
    EXPECT_EQ(report["channels"][0]["reason"], "");
    EXPECT_EQ(report["channels"][1]["step"], "version");
    EXPECT_EQ(report["channels"][1]["reason"], "refused");
    EXPECT_EQ(report["channels"][1]["detail"].get<std::string>().rfind("NAK 0x", 0), 0u)
        << report["channels"][1]["detail"];
    EXPECT_TRUE(good.Started());
    EXPECT_FALSE(old.Started());
}

TEST_F(PelorCommand, ARefusedSelectionStepReadsAsFailedOnTheDisplay) {
    const fs::path code = MakeCodeFolder();
    SimHandset& security = StartHandset("refuse:SECURITY_MODE:1");
    SimHandset& header = StartHandset("refuse:INIT_AMSS_HEADER:1");
    const PelorRun r = Pelor({"flash", "-p", security.DevicePath(), "-p", header.DevicePath(),
                              "--code", code.string(), "--delay", "0"});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_TRUE(HasLine(r.out, "ch0 ERR: Security Mode")) << r.out;
    EXPECT_TRUE(HasLine(r.out, "ch1 ERR: Init AMSS Header")) << r.out;
}

TEST_F(PelorCommand, AMissingImageSendsNothingAndExitsTwo) {
    const fs::path code = MakeCodeFolder();
    fs::remove(code / "fw.mbn");
    SimHandset& h = StartHandset();
    PelorRun r = Pelor({"flash", "-p", h.DevicePath(), "--code", code.string()});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("ERR: No File"), std::string::npos) << r.err;

    // A boot-chain file missing with --boot is caught before anything is sent too.
    WriteFile(code / "fw.mbn", 5000, 3);
    r = Pelor({"flash", "-p", h.DevicePath(), "--code", code.string(), "--boot"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("pbl.mbn"), std::string::npos) << r.err;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(h.RequestCount(), 0u);
}

TEST_F(PelorCommand, UsageErrorsExitTwoAndSayWhy) {
    const fs::path code = MakeCodeFolder();
    struct Case {
        std::vector<std::string> args;
        const char* says;
    };
    const std::vector<Case> cases = {
        {{"flash", "--code", code.string()}, "--port"},
        {{"flash", "-p", "/dev/null", "--erase", "all"}, "--erase needs --code"},
        {{"flash", "-p", "/dev/null", "--code", code.string(), "--erase", "except-backup"},
         "needs --resource"},
        {{"flash", "-p", "/dev/null", "--code", code.string(), "--erase", "some"}, "some"},
        {{"flash", "-p", "/dev/x", "-p", "/dev/x", "--code", code.string()},
         "is given to channels 0 and 1"},
        {{"flash", "-p", "COM77", "--code", code.string()}, "not in the port table"},
        {{"flash", "-p", "/dev/null"}, "Select Image !"},
        {{"flash", "-p", "a",  "-p", "b",  "-p", "c",  "-p", "d",      "-p",         "e",
          "-p",    "f",  "-p", "g",  "-p", "h",  "-p", "i",  "--code", code.string()},
         "1 to 8 ports"},
        {{"nonsense"}, "nonsense"},
    };
    for (const Case& c : cases) {
        const PelorRun r = Pelor(c.args);
        EXPECT_EQ(r.status, 2) << c.args[0] << " " << c.says << "\n" << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    }
}

TEST_F(PelorCommand, AJobFileSuppliesTheChoicesAndTheCommandLineWins) {
    const fs::path code = MakeCodeFolder();
    WriteFile(dir_ / "res.bin", 20000, 4);
    {
        std::ofstream job(dir_ / "bench.plr");
        job << "[PELOR]\nCODECHECK=1\nCODEFILE=" << code.string()
            << "\nETC2CHECK=1\nETC2FILE=" << (dir_ / "missing.bin").string() << "\nETC2ADDRESS=\n";
    }
    SimHandset& h = StartHandset();
    PelorRun r = Pelor(
        {"flash", "-p", h.DevicePath(), "--job", (dir_ / "bench.plr").string(), "--delay", "0"});
    EXPECT_EQ(r.status, 2) << "the job's resource image is missing";
    r = Pelor({"flash", "-p", h.DevicePath(), "--job", (dir_ / "bench.plr").string(), "--resource",
               (dir_ / "res.bin").string(), "--delay", "0"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(HasLine(r.out, "ch0 Init AMSS"));
    EXPECT_TRUE(HasLine(r.out, "ch0 ORL4 Formating..."));
}

TEST_F(PelorCommand, HelpIsCompleteForEveryCommand) {
    PelorRun r = Pelor({"--help"});
    EXPECT_EQ(r.status, 0);
    for (const char* cmd : {"flash", "demo", "simulate", "ports", "build-rsc"})
        EXPECT_NE(r.out.find(cmd), std::string::npos) << cmd;
    r = Pelor({"flash", "--help"});
    EXPECT_EQ(r.status, 0);
    for (const char* opt :
         {"--port", "--code", "--boot", "--erase", "--resource", "--resource-address",
          "--no-format", "--job", "--baud", "--delay", "--report", "--trace"})
        EXPECT_NE(r.out.find(opt), std::string::npos) << opt;
}

TEST_F(PelorCommand, HelpFitsTheTerminalAndTheCommandListShowsFirstSentences) {
    auto help = [&](const std::string& command, std::size_t columns) {
        std::vector<std::string> args;
        if (!command.empty()) args.push_back(command);
        args.push_back("--help");
        return RunPelor(dir_, args, "COLUMNS=" + std::to_string(columns));
    };
    for (std::size_t columns : {50u, 80u, 120u}) {
        for (const char* command :
             {"", "flash", "demo", "simulate", "ports", "build-rsc", "doctor", "results"}) {
            const PelorRun r = help(command, columns);
            ASSERT_EQ(r.status, 0) << command << r.err;
            std::istringstream lines(r.out);
            for (std::string line; std::getline(lines, line);)
                EXPECT_LE(line.size(), columns) << "pelor " << command << " --help: " << line;
        }
    }
    const std::string top = help("", 80).out;
    EXPECT_NE(top.find("  flash                       Write images into up to eight handsets at "
                       "once.\n  demo "),
              std::string::npos)
        << top;
    // The rest of a command's description is in its own help.
    EXPECT_EQ(top.find("Everything given is checked"), std::string::npos) << top;
    EXPECT_NE(help("flash", 80).out.find("Everything given is checked"), std::string::npos);
}

TEST_F(PelorCommand, SimulateRefusesAFaultForAHandsetItDoesNotHave) {
    for (const char* fault :
         {"2=silent", "99999999999999999999=silent", "x=silent", "=silent", "nonsense"}) {
        PelorRun r = Pelor({"simulate", "--count", "2", "--fault", fault});
        EXPECT_EQ(r.status, 2) << fault << ": " << r.err;
        EXPECT_EQ(r.err.rfind("error: ", 0), 0u) << fault << ": " << r.err;
    }
}

TEST_F(PelorCommand, SimulatePrintsItsDevicesAndEndsCleanlyOnInterrupt) {
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::dup2(out[1], 1);
        ::close(out[0]);
        ::close(out[1]);
        ::execl(PELOR_EXE, PELOR_EXE, "simulate", "--count", "2", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    std::string text;
    char buf[256];
    while (std::count(text.begin(), text.end(), '\n') < 2) {
        const ssize_t n = ::read(out[0], buf, sizeof buf);
        if (n <= 0) break;
        text.append(buf, static_cast<std::size_t>(n));
    }
    ::close(out[0]);
    std::istringstream lines(text);
    std::string first, second;
    std::getline(lines, first);
    std::getline(lines, second);
    EXPECT_EQ(first.rfind("/dev/pts/", 0), 0u) << text;
    EXPECT_EQ(second.rfind("/dev/pts/", 0), 0u) << text;
    EXPECT_TRUE(fs::exists(first));
    ::kill(pid, SIGINT);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(PelorCommand, AHandsetThatRefusesGoIsNotDoneAndOneThatNeverAnswersItIsReportedSo) {
    const fs::path code = MakeCodeFolder();
    SimHandset& healthy = StartHandset();
    SimHandset& refusing = StartHandset("refuse:GO");
    SimHandset& silent = StartHandset("drop:GO");
    const PelorRun r = Pelor({"flash", "-p", healthy.DevicePath(), "-p", refusing.DevicePath(),
                              "-p", silent.DevicePath(), "--code", code.string(), "--delay", "0",
                              "--report", (dir_ / "report.json").string()});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_TRUE(HasLine(r.out, "ch1 ERR: Go")) << r.out;
    const auto report = nlohmann::json::parse(Slurp(dir_ / "report.json"));
    const auto& c = report["channels"];
    EXPECT_TRUE(c[0]["ok"].get<bool>());
    EXPECT_TRUE(c[0]["go_answered"].get<bool>());
    EXPECT_FALSE(c[1]["ok"].get<bool>());
    EXPECT_EQ(c[1]["text"], "ERR: Go");
    EXPECT_TRUE(c[2]["ok"].get<bool>()) << "a handset may restart on GO before it answers";
    EXPECT_FALSE(c[2]["go_answered"].get<bool>());
}

TEST_F(PelorCommand, ADeviceRemovedDuringTheRunStopsOnlyItsChannel) {
    // The handset behind the link keeps answering: only the device's disappearance can stop
    // its channel, as when a USB adapter is pulled while its line still looks alive.
    const fs::path code = MakeCodeFolder();
    SimHandset& pulled = StartHandset("latency:WRITE:every:400ms");
    SimHandset& stays = StartHandset();
    const fs::path dev = dir_ / "dev";
    fs::create_directories(dev);
    const fs::path link = dev / "ttyUSB3";
    fs::create_symlink(pulled.DevicePath(), link);

    PelorRun r;
    const auto start = std::chrono::steady_clock::now();
    std::thread run([&] {
        r = Pelor({"flash", "-p", link.string(), "-p", stays.DevicePath(), "--code", code.string(),
                   "--delay", "0", "--dev", dev.string(), "--report",
                   (dir_ / "report.json").string()});
    });
    // Pulled once the AMSS is on its way.
    std::size_t seen = 0;
    for (int i = 0; i < 200; ++i) {
        pulled.WaitForRequests(seen + 1, std::chrono::milliseconds(50));
        seen = pulled.RequestCount();
        if (seen >= 6) break;
    }
    fs::remove(link);
    run.join();
    const auto took = std::chrono::steady_clock::now() - start;

    EXPECT_EQ(r.status, 1) << r.out << r.err;
    const auto report = nlohmann::json::parse(Slurp(dir_ / "report.json"));
    EXPECT_FALSE(report["channels"][0]["ok"].get<bool>());
    EXPECT_TRUE(report["channels"][1]["ok"].get<bool>());
    EXPECT_TRUE(stays.Started());
    EXPECT_FALSE(pulled.Started());
    EXPECT_LT(took, std::chrono::seconds(4)) << "the channel did not wait out its handset";
}
