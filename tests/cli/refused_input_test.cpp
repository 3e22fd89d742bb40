// Wrong input is refused before a byte goes out: every case runs the real `pelor flash` with a
// simulated handset on the port, and passes only when the command exits 2, says what is wrong
// and with which text or path, and the handset has received nothing.
// POSIX only: simulated handsets on pseudo-terminals.
#if !defined(_WIN32)

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "sim/sim_flash.h"
#include "sim/sim_handset.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

struct FlashRun {
    int status = -1;
    std::string out;
    std::string err;
};

std::string Slurp(const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class RefusedInput : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(dir_.path().empty());
        std::string error;
        handset_ = SimHandset::StartOnPty(SimOptions{}, &error);
        ASSERT_TRUE(handset_) << error;
        code_ = dir_ / "fw";
        fs::create_directories(code_);
        std::ofstream(code_ + "/partition.mbn") << std::string(300, 'p');
        std::ofstream(code_ + "/fwhd.mbn") << std::string(1200, 'h');
        std::ofstream(code_ + "/fw.mbn") << std::string(0x70000 + 4000, 'a');
        resource_ = dir_ / "res.bin";
        std::ofstream(resource_) << std::string(3000, 'r');
    }
    void TearDown() override {
        if (handset_) handset_->Stop();
    }

    // `pelor flash -p <the handset> args...` in the test's folder.
    FlashRun Flash(const std::vector<std::string>& args) {
        std::string cmd = "cd '" + dir_.path() + "' && '" PELOR_EXE "' flash";
        std::vector<std::string> all = args;
        if (std::find(args.begin(), args.end(), "-p") == args.end()) {
            all.insert(all.begin(), {"-p", handset_->DevicePath()});
        }
        for (const auto& a : all) cmd += " '" + a + "'";
        cmd += " --delay 0 >'" + (dir_ / "out.txt") + "' 2>'" + (dir_ / "err.txt") + "' </dev/null";
        FlashRun r;
        const int raw = std::system(cmd.c_str());
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        r.out = Slurp(dir_ / "out.txt");
        r.err = Slurp(dir_ / "err.txt");
        return r;
    }

    void ExpectRefused(const std::vector<std::string>& args, const std::vector<std::string>& says) {
        const FlashRun r = Flash(args);
        std::string what;
        for (const auto& a : args) what += a + " ";
        EXPECT_EQ(r.status, 2) << what << "\n" << r.out << r.err;
        for (const std::string& s : says) {
            EXPECT_NE(r.err.find(s), std::string::npos) << what << "\nwants: " << s << "\n"
                                                        << r.err;
        }
        EXPECT_EQ(r.out, "") << what;
        EXPECT_EQ(handset_->BytesReceived(), 0u) << what << ": something went out";
    }

    std::string Job(const std::string& name, const std::string& text) {
        const std::string path = dir_ / name;
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }

    TempDir dir_;
    std::unique_ptr<SimHandset> handset_;
    std::string code_;
    std::string resource_;
};

TEST_F(RefusedInput, AnAddressOtherThanOneToEightHexDigitsIsAUsageError) {
    for (const char* address :
         {"12G4", "0x", "-5", "FFFFFFFFFFFF", "", "0x123456789", " 10", "10 ", "1_0", "+10"}) {
        ExpectRefused({"--resource", resource_, "--resource-address", address},
                      {"--resource-address", "\"" + std::string(address) + "\" is not an address"});
    }
}

TEST_F(RefusedInput, AJobFileAddressTheWindowCouldNotHoldIsRefused) {
    const std::string job = Job("bench.plr", "[PELOR]\nETC2CHECK=1\nETC2FILE=" + resource_ +
                                                 "\nETC2ADDRESS=12G4\nCODECHECK=0\n");
    ExpectRefused({"--job", job}, {job + ": ETC2ADDRESS \"12G4\" is not an address"});
    const std::string prefixed = Job("prefixed.plr", "[PELOR]\nETC2CHECK=1\nETC2FILE=" + resource_ +
                                                         "\nETC2ADDRESS=0x400\nCODECHECK=0\n");
    ExpectRefused({"--job", prefixed}, {"ETC2ADDRESS \"0x400\" is not an address"});
}

TEST_F(RefusedInput, WhatIsNotAJobFileIsReportedAsSuch) {
    std::string noise;
    for (int i = 0; i < 4000; ++i) noise += static_cast<char>((i * 7919 + 13) % 256);
    const std::string random = Job("random.plr", noise);
    ExpectRefused({"--job", random}, {random + " is not a job file: no [PELOR] section"});
    // Also when the Code row is given here and the job file would add nothing but the resource.
    ExpectRefused({"--job", random, "--code", code_},
                  {random + " is not a job file: no [PELOR] section"});
    const std::string other = Job("other.ini", "[OTHER]\nCODEFILE=" + code_ + "\n");
    ExpectRefused({"--job", other}, {"is not a job file: no [PELOR] section"});
    ExpectRefused({"--job", dir_.path()}, {dir_.path() + " is a folder, not a job file"});
    ExpectRefused({"--job", dir_ / "absent.plr"},
                  {"job file " + (dir_ / "absent.plr") + " does not exist"});
}

TEST_F(RefusedInput, AnEmptyPortSaysSo) {
    ExpectRefused({"-p", "", "--code", code_}, {"--port", "the port is empty"});
    ExpectRefused({"-p", handset_->DevicePath(), "-p", "", "--code", code_}, {"the port is empty"});
}

TEST_F(RefusedInput, MissingImagesAreNamedWithWhatWasExpected) {
    ExpectRefused({"--code", dir_ / "nowhere"},
                  {"ERR: No File", "the code folder " + (dir_ / "nowhere") + " does not exist"});
    ExpectRefused({"--code", code_ + "/fw.mbn"},
                  {"ERR: No File", code_ + "/fw.mbn is a file; the Code row takes the folder"});
    fs::create_directories(dir_ / "empty");
    ExpectRefused({"--code", dir_ / "empty"},
                  {"the code folder " + (dir_ / "empty") +
                   " lacks partition.mbn, emptyhd.mbn, empty.mbn (it holds none"});
    ExpectRefused({"--code", code_, "--boot"},
                  {"the code folder " + code_ +
                       " lacks pbl.mbn, qcsblhd_cfgdata.mbn, qcsbl.mbn, oemsblhd.mbn, oemsbl.mbn",
                   "(it needs partition.mbn, pbl.mbn"});
    fs::remove(code_ + "/fwhd.mbn");
    ExpectRefused({"--code", code_}, {"the code folder " + code_ + " lacks fwhd.mbn (it needs "});
    ExpectRefused(
        {"--resource", dir_ / "absent.bin"},
        {"ERR: No File", "the resource image " + (dir_ / "absent.bin") + " does not exist"});
    ExpectRefused({"--resource", dir_ / "empty"},
                  {"the resource image " + (dir_ / "empty") + " is a folder; pack it first"});
}

TEST_F(RefusedInput, AnOptionThatWouldBeIgnoredOrAnOutputThatCannotBeWrittenIsAUsageError) {
    const std::string pty = handset_->DevicePath();
    // One device by two names: a link as /dev/serial/by-path has and the node it leads to.
    fs::create_directories(dir_ / "dev/serial/by-path");
    fs::create_symlink(pty, dir_ / "dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0");
    fs::create_symlink(pty, dir_ / "dev/ttyUSB0");
    const struct {
        std::vector<std::string> args;
        std::string says;
    } cases[] = {
        {{"--resource", resource_, "--boot"}, "--boot needs --code"},
        {{"--code", code_, "--resource-address", "400"}, "--resource-address needs --resource"},
        {{"--code", code_, "--no-format"}, "--no-format needs --resource"},
        {{"--code", code_, "--dev", dir_ / "nodev"},
         "--dev: the folder " + (dir_ / "nodev") + " does not exist"},
        {{"--code", code_, "--report", dir_ / "absent/r.json"},
         "cannot write the report " + (dir_ / "absent/r.json")},
        {{"--code", code_, "--report", dir_.path()},
         "cannot write the report " + dir_.path() + ": it is a folder"},
        {{"-p", pty, "-p", pty, "--code", code_}, "is given to channels 0 and 1"},
        {{"-p", dir_ / "dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0", "-p",
          dir_ / "dev/ttyUSB0", "--code", code_},
         "of channels 0 and 1 are one device"},
    };
    for (const auto& c : cases) ExpectRefused(c.args, {c.says});
    EXPECT_FALSE(fs::exists(dir_ / "absent"));
}

// What the window and `pelor ports` take, `pelor flash` takes too.
using AcceptedInput = RefusedInput;

TEST_F(AcceptedInput, APortAsPortsShowsItAndAJobAsTheWindowReadsIt) {
    fs::create_directories(dir_ / "dev");
    fs::create_symlink(handset_->DevicePath(), dir_ / "dev/ttyUSB0");
    const std::string listing = "cd '" + dir_.path() + "' && '" PELOR_EXE "' ports --dev '" +
                                (dir_ / "dev") + "' >'" + (dir_ / "ports.txt") + "'";
    ASSERT_EQ(std::system(listing.c_str()), 0);
    const std::string shown = Slurp(dir_ / "ports.txt");
    ASSERT_EQ(shown.rfind("COM1 ", 0), 0u) << shown;
    EXPECT_NE(shown.find(dir_ / "dev/ttyUSB0"), std::string::npos) << shown;

    // CODECHECK=2 ticks the Code row in the window; the folder as tab completion gives it.
    const std::string job = Job("line.plr", "[PELOR]\nCODECHECK=2\nCODEFILE=" + code_ + "/\n");
    const FlashRun r = Flash({"-p", "COM1", "--dev", dir_ / "dev", "--job", job});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_GT(handset_->BytesReceived(), 4000u);
}

TEST_F(RefusedInput, APrefixedAddressIsTakenAsItsDigits) {
    const FlashRun r =
        Flash({"--resource", resource_, "--resource-address", "0x400", "--no-format"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const auto written = handset_->ReadArea(kSimAreaFs, 0x400, 3000);
    EXPECT_EQ(std::string(written.begin(), written.end()), std::string(3000, 'r'));
}

}  // namespace

#endif  // !defined(_WIN32)
