// Every `pelor flash` job on record, as an operator sees it: the real program against
// simulated handsets, then `pelor results` on what it recorded.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/pelor_command.h"
#include "config/version.h"
#include "results/sha256.h"
#include "results/sqlite_store.h"
#include "sim/sim_fault.h"
#include "sim/sim_handset.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

class ResultsCommand : public ::testing::Test {
protected:
    void TearDown() override {
        for (auto& h : handsets_) h->Stop();
    }

    // Runs pelor in the test's folder with its data folder given (default: the test's own).
    PelorRun Pelor(const std::vector<std::string>& args, const std::string& dataHome = "") {
        return RunPelor(dir_.path(), args,
                        "XDG_DATA_HOME='" + (dataHome.empty() ? Data() : dataHome) + "'");
    }

    std::string Data() const { return dir_ / "data"; }
    std::string Database() const { return Data() + "/pelor/results.db"; }

    void WriteFile(const std::string& path, std::size_t size, unsigned seed) {
        fs::create_directories(fs::path(path).parent_path());
        std::ofstream out(path, std::ios::binary);
        unsigned x = seed * 2654435761u + 7u;
        for (std::size_t i = 0; i < size; ++i) {
            x = x * 1103515245u + 12345u;
            out.put(static_cast<char>(x >> 16));
        }
    }

    std::string MakeCodeFolder() {
        const std::string code = dir_ / "fw";
        WriteFile(code + "/partition.mbn", 300, 1);
        WriteFile(code + "/fwhd.mbn", 1200, 2);
        WriteFile(code + "/fw.mbn", 0x70000 + 40000, 3);
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

    std::vector<JobRecord> Rows() {
        std::string error;
        auto store = SqliteResultsStore::Open(Database(), &error);
        EXPECT_TRUE(store) << error;
        std::vector<JobRecord> rows;
        if (store) {
            EXPECT_TRUE(store->Load({}, &rows, &error)) << error;
        }
        return rows;
    }

    TempDir dir_;
    std::vector<std::unique_ptr<SimHandset>> handsets_;
};

}  // namespace

TEST_F(ResultsCommand, ABatchOfEightWithMixedResultsIsOnRecordAndSummarised) {
    const std::string code = MakeCodeFolder();
    std::vector<std::string> args = {"flash", "--code",    code,     "--delay",
                                     "0",     "--station", "bench-7"};
    for (int ch = 0; ch < 8; ++ch) {
        const char* fault = ch == 2 ? "refuse:VERSION" : ch == 5 ? "refuse:INIT_AMSS" : "";
        args.push_back("-p");
        args.push_back(StartHandset(fault).DevicePath());
    }
    const PelorRun flash = Pelor(args);
    ASSERT_EQ(flash.status, 1) << flash.out << flash.err;
    EXPECT_EQ(flash.err.find("results:"), std::string::npos) << flash.err;

    std::vector<JobRecord> rows = Rows();
    ASSERT_EQ(rows.size(), 8u);
    std::sort(rows.begin(), rows.end(),
              [](const JobRecord& a, const JobRecord& b) { return a.channel < b.channel; });
    std::string amssDigest;
    std::int64_t amssSize = 0;
    ASSERT_EQ(SHA256_File(code + "/fw.mbn", &amssDigest, &amssSize), 1);
    for (int ch = 0; ch < 8; ++ch) {
        const JobRecord& r = rows[ch];
        const bool ok = ch != 2 && ch != 5;
        EXPECT_EQ(r.channel, ch);
        EXPECT_EQ(r.station, "bench-7");
        EXPECT_EQ(r.port, handsets_[ch]->DevicePath());
        EXPECT_EQ(r.device, r.port) << "a pseudo-terminal has no by-path name";
        EXPECT_EQ(r.result, ok ? "done" : "failed") << ch;
        EXPECT_LE(r.startedAt, r.endedAt);
        ASSERT_EQ(r.images.size(), 3u);
        EXPECT_EQ(r.images[0].name, "partition.mbn");
        EXPECT_EQ(r.images[2].name, "fw.mbn");
        EXPECT_EQ(r.images[2].size, amssSize);
        EXPECT_EQ(r.images[2].sha256, amssDigest);
        EXPECT_FALSE(r.boot);
        EXPECT_EQ(r.erase, "none");
        EXPECT_TRUE(r.format);
        EXPECT_EQ(r.version, PELOR_VersionText()) << "the version both programs print";
        if (ok) {
            EXPECT_EQ(r.bytesSent, 300 + 1200 + 40000);
            EXPECT_EQ(r.lastText.rfind("Download Complete! [", 0), 0u) << r.lastText;
        }
    }
    EXPECT_EQ(rows[2].lastText, "Downloader Version Incorrect");
    EXPECT_EQ(rows[2].bytesSent, 0);
    EXPECT_EQ(rows[5].lastText, "Init AMSS");
    EXPECT_EQ(rows[5].bytesSent, 300 + 1200);

    PelorRun r = Pelor({"results", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["jobs"], 8);
    EXPECT_EQ(j["failures"], 2);
    EXPECT_DOUBLE_EQ(j["yield"].get<double>(), 75.0);
    EXPECT_EQ(j["days"][0]["station"], "bench-7");
    EXPECT_EQ(j["sockets"].size(), 8u);
    EXPECT_EQ(j["failures_by_cause"].size(), 2u);

    r = Pelor({"results"});
    EXPECT_NE(r.out.find("Jobs 8, failed 2, yield 75.0%"), std::string::npos) << r.out;
    r = Pelor({"results", "--csv"});
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 9);
    r = Pelor({"results", "--station", "bench-1", "--json"});
    EXPECT_EQ(nlohmann::json::parse(r.out)["jobs"], 0);
    r = Pelor({"results", "--since", "2d", "--json"});
    EXPECT_EQ(nlohmann::json::parse(r.out)["jobs"], 8);
    r = Pelor({"results", "--since", "yesterday"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("--since"), std::string::npos);

    r = Pelor({"results", "--plot", dir_ / "yield.png"});
    if (r.status == 0) {
        EXPECT_EQ(Slurp(dir_ / "yield.png").substr(1, 3), "PNG");
        EXPECT_FALSE(fs::exists(dir_ / "yield.png.part"));
    } else {
        EXPECT_NE(r.err.find("gnuplot"), std::string::npos) << r.err;
    }
}

TEST_F(ResultsCommand, NoRecordWithNoResultsAndNothingOnRecordIsSaid) {
    const std::string code = MakeCodeFolder();
    const PelorRun flash =
        Pelor({"flash", "-p", StartHandset().DevicePath(), "--code", code, "--no-results"});
    ASSERT_EQ(flash.status, 0) << flash.err;
    EXPECT_FALSE(fs::exists(Database()));
    const PelorRun r = Pelor({"results"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no results on this station yet"), std::string::npos) << r.err;
}

TEST_F(ResultsCommand, AStoreThatCannotBeWrittenOrAServerThatCannotBeReachedNeverStopsADownload) {
    const std::string code = MakeCodeFolder();
    std::ofstream(dir_ / "blocked") << "a file where the data folder should be";
    SimHandset& h = StartHandset();
    PelorRun r = Pelor({"flash", "-p", h.DevicePath(), "--code", code}, dir_ / "blocked");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(h.Started());
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(r.err.rfind("results: not kept on this station: ", 0), 0u) << r.err;

    // A server whose socket is not there: one line, and the row waits on the station.
    SimHandset& h2 = StartHandset();
    r = Pelor({"flash", "-p", h2.DevicePath(), "--code", code, "--results",
               "postgresql://line@/results?host=" + dir_ / "no-server"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(h2.Started());
    EXPECT_NE(r.err.find("results: cannot reach the results server"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("1 job(s) wait on this station"), std::string::npos) << r.err;
    EXPECT_EQ(Rows().size(), 1u);

    r = Pelor({"flash", "-p", StartHandset().DevicePath(), "--code", code, "--results",
               "db.example/line"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("is not a results server URL"), std::string::npos) << r.err;
}
