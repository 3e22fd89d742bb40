// A socket the simulator made bad is flagged by `pelor flash --continuous` as the line runs and
// listed with its evidence by `pelor results` afterwards.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/pelor_command.h"
#include "cli/simulate_arrivals.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

void WriteImage(const fs::path& p, std::size_t size) {
    std::ofstream out(p, std::ios::binary);
    for (std::size_t i = 0; i < size; ++i) out.put(static_cast<char>(i * 7 + 3));
}

}  // namespace

TEST(SuspectSocketCommand, ASocketMadeBadIsFlaggedOnItsLineAndListedWithItsEvidence) {
    char pattern[] = "/tmp/pelor-suspect-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const fs::path dir = pattern;
    fs::create_directories(dir / "fw");
    WriteImage(dir / "fw" / "partition.mbn", 300);
    WriteImage(dir / "fw" / "fwhd.mbn", 1200);
    WriteImage(dir / "fw" / "fw.mbn", 0x70000 + 3 * 16384);
    // The rule from the settings file: three jobs are enough to judge a socket.
    std::ofstream(dir / "pelorw.ini")
        << "[PELOR]\r\nSUSPECT_WINDOW=3\r\nSUSPECT_FAILURES=3\r\nSUSPECT_MIN_JOBS=3\r\n";

    // Socket 2's cable is worn through: every handset plugged into it loses its line.
    const pid_t sim = StartPelor(dir,
                                 {"simulate", "-n", "3", "--arrivals", "100ms,uniform:150ms-300ms",
                                  "--bad-socket", "2:1", "--sockets-dir", dir.string()},
                                 "sim");
    ASSERT_TRUE(
        WaitUntil([&] { return fs::exists(dir / "socket0") && fs::exists(dir / "socket2"); }, 20s));
    std::vector<std::string> flash = {
        "flash", "--continuous", "--code", (dir / "fw").string(), "--delay",
        "0",     "--max-jobs",   "12"};
    for (int i = 0; i < 3; ++i) {
        flash.push_back("-p");
        flash.push_back((dir / ("socket" + std::to_string(i))).string());
    }
    const std::vector<std::pair<std::string, std::string>> env = {
        {"XDG_DATA_HOME", (dir / "data").string()}};
    const pid_t station = StartPelor(dir, flash, "flash", env);
    EXPECT_EQ(WaitPelor(station, 60s), 1) << Slurp(dir / "flash.txt") << Slurp(dir / "flash.err");
    ::kill(sim, SIGINT);
    EXPECT_EQ(WaitPelor(sim, 10s), 0) << Slurp(dir / "sim.err");

    const std::string line = Slurp(dir / "flash.txt");
    EXPECT_NE(line.find("suspect socket ch2 " + (dir / "socket2").string() +
                        ": 3 of its last 3 jobs failed ("),
              std::string::npos)
        << line;
    EXPECT_EQ(line.find("suspect socket ch0"), std::string::npos) << line;
    EXPECT_EQ(line.find("suspect socket ch1"), std::string::npos) << line;
    EXPECT_NE(line.find("the other sockets: 0 of "), std::string::npos) << line;
    EXPECT_NE(line.find("handsets/h, suspect: ch2\n"), std::string::npos) << line;

    const PelorRun text =
        RunPelor(dir, {"results"}, "XDG_DATA_HOME='" + (dir / "data").string() + "'");
    EXPECT_EQ(text.status, 0) << text.err;
    EXPECT_NE(text.out.find("Suspect sockets"), std::string::npos) << text.out;
    const PelorRun json =
        RunPelor(dir, {"results", "--json"}, "XDG_DATA_HOME='" + (dir / "data").string() + "'");
    ASSERT_EQ(json.status, 0) << json.err;
    const auto suspects = nlohmann::json::parse(json.out)["suspect_sockets"];
    ASSERT_EQ(suspects.size(), 1u) << json.out;
    EXPECT_EQ(suspects[0]["channel"], 2);
    EXPECT_EQ(suspects[0]["jobs"], 3);
    EXPECT_EQ(suspects[0]["failures"], 3);
    // Its line went in the middle of the image, or (the station quicker than the operator) the
    // port it tried would not open.
    EXPECT_GE(suspects[0]["failures_by_reason"].value("port gone", 0), 1) << json.out;
    EXPECT_EQ(suspects[0]["others_failures"], 0);

    std::error_code ec;
    fs::remove_all(dir, ec);
}

TEST(SuspectSocketCommand, ABadSocketIsASocketOfTheLineAndAShareOfItsHandsets) {
    struct Case {
        const char* text;
        bool ok;
        double rate;  // socket 2's, when taken
    } cases[] = {{"2:0.8", true, 0.8}, {"2:80%", true, 0.8}, {"2:1", true, 1.0},
                 {"2:0", true, 0.0},   {"3:0.5", false, 0},  {"2:1.5", false, 0},
                 {"2:-1", false, 0},   {"x:0.5", false, 0},  {"2:", false, 0},
                 {":0.5", false, 0},   {"2:0.5x", false, 0}};
    for (const Case& c : cases) {
        SimArrivalOptions line;
        std::string error;
        EXPECT_EQ(CLI_ParseBadSocket(c.text, 3, line, error), c.ok ? 1 : 0) << c.text;
        if (!c.ok) {
            EXPECT_NE(error.find("--bad-socket"), std::string::npos) << c.text;
            continue;
        }
        ASSERT_EQ(line.badRate.size(), 3u) << c.text;
        EXPECT_DOUBLE_EQ(line.badRate[2], c.rate) << c.text;
        EXPECT_EQ(line.badRate[0], 0.0) << c.text;
    }
}
