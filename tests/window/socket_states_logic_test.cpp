// The window in production mode publishes its sockets for the line view when pelorw.ini names a
// line's server (RESULTS): against the real server scripts/test-results-pg starts
// (PELOR_TEST_PG_URL); skipped without one. The handsets sit on loopback lines.
#include <gtest/gtest.h>

#ifdef PELOR_HAVE_LIBPQ
#include <libpq-fe.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <thread>

#include "dialog_template.h"
#include "results/job_record.h"
#include "sim/sim_fault.h"
#include "sim/sim_handset.h"
#include "transport/loopback_port.h"
#include "transport/port_table.h"
#include "window_fixture.h"

using namespace window_test;
using namespace std::chrono_literals;

namespace {

struct Line {
    explicit Line(std::string name) : name(std::move(name)) {
        port = PORTTABLE_Assign("loop:" + this->name);
    }
    ~Line() {
        if (!handset) return;
        LOOPBACK_Remove(name);
        handset->Unplug();
    }
    void Plug(const std::string& faults = "") {
        SimOptions options;
        std::string error;
        if (!faults.empty()) {
            EXPECT_TRUE(SIM_ParseFaults(faults, options.faults, error)) << error;
        }
        handset = SimHandset::StartOnFd(LOOPBACK_Create(name), std::move(options));
    }
    std::string name;
    int port = 0;
    std::unique_ptr<SimHandset> handset;
};

class WindowSocketStates : public WindowTest {
protected:
    void SetUp() override {
        const char* url = std::getenv("PELOR_TEST_PG_URL");
        if (url == nullptr || url[0] == '\0') {
            GTEST_SKIP() << "no test server (scripts/test-results-pg starts one)";
        }
        url_ = url;
        conn_ = PQconnectdb(url_.c_str());
        ASSERT_EQ(PQstatus(conn_), CONNECTION_OK) << PQerrorMessage(conn_);
        const char* data = std::getenv("XDG_DATA_HOME");
        savedData_ = data != nullptr ? data : "";
        ::setenv("XDG_DATA_HOME", (folder_ / "data").c_str(), 1);
    }
    void TearDown() override {
        if (conn_ != nullptr) PQfinish(conn_);
        if (!url_.empty()) ::setenv("XDG_DATA_HOME", savedData_.c_str(), 1);
    }

    // One column of the station's socket row ("" when there is none).
    std::string Column(int channel, const std::string& column) {
        const std::string sql = "SELECT " + column + " FROM pelor_sockets WHERE station = '" +
                                station_ + "' AND channel = " + std::to_string(channel);
        PGresult* r = PQexec(conn_, sql.c_str());
        std::string value =
            PQresultStatus(r) == PGRES_TUPLES_OK && PQntuples(r) > 0 ? PQgetvalue(r, 0, 0) : "";
        PQclear(r);
        return value;
    }
    // Waits (in 5 ms passes, at most 10 s) until done holds.
    static bool Soon(const std::function<bool()>& done) {
        for (int pass = 0; pass < 2000; ++pass) {
            if (done()) return true;
            std::this_thread::sleep_for(5ms);
        }
        return done();
    }

    std::string url_;
    std::string station_ = "window-" + RESULTS_NewJobId().substr(0, 8);
    std::string savedData_;
    PGconn* conn_ = nullptr;
};

}  // namespace

// Armed, a sound socket and one whose cable gives way: the server shows socket 1 failed with
// its step and reason and its badge, the double-click clears the badge there too, and the
// window's end leaves both sockets 'off'.
TEST_F(WindowSocketStates, ProductionModePublishesEachSocketAndTheAcknowledgementClearsItsBadge) {
    const std::string code = folder_ / "WZRTAll";
    std::filesystem::create_directories(code);
    WriteAll(code + "/partition.mbn", std::string(300, 'p'));
    WriteAll(code + "/WZRTAllhd.mbn", std::string(1200, 'h'));
    WriteAll(code + "/WZRTAll.mbn", std::string(0x70000 + 3 * 16384, 'a'));
    WriteAll(Job(), "[PELOR]\nCODECHECK=1\nCODEFILE=" + code + "\n");
    auto dlg = Start(
        "[PELOR]\nAUTODETECT=0\nDELAY=0\nSUSPECT_WINDOW=1\nSUSPECT_FAILURES=1\n"
        "SUSPECT_MIN_JOBS=1\nRESULTS=" +
        url_ + "\nSTATION=" + station_ + "\n");
    std::vector<std::unique_ptr<Line>> lines;
    for (int ch = 0; ch < 2; ++ch) {
        lines.push_back(std::make_unique<Line>("published-s" + std::to_string(ch)));
        dlg->SetChannelPort(ch, lines.back()->port);
    }
    dlg->SetContinuous(true);
    lines[0]->Plug();
    lines[1]->Plug("unplug:WRITE:2");
    std::string flagged, acknowledged, failure;
    dlg->SetDuringPump([&] {
        if (!dlg->Armed() || !acknowledged.empty()) return;
        if (dlg->ControlText(IDC_STATUS_LINE).find("suspect: ch1") == std::string::npos) return;
        // The publisher has a thread of its own: the window may wait for it here.
        EXPECT_TRUE(Soon([&] { return !Column(1, "suspect").empty(); }));
        flagged = Column(1, "suspect");
        failure = Column(1, "state || ' ' || (fail_step <> '' AND fail_reason <> '')");
        EXPECT_TRUE(dlg->OnAcknowledgeSuspect(1));
        EXPECT_TRUE(Soon([&] { return Column(1, "suspect").empty(); }));
        acknowledged = Column(1, "state");
        Click(*dlg, IDC_DOWNLOAD);  // Stop
    });
    Click(*dlg, IDC_DOWNLOAD);
    EXPECT_EQ(flagged.rfind("SUSPECT: 1 of 1 failed (", 0), 0u) << flagged;
    EXPECT_EQ(failure, "failed true") << "with its step and reason";
    EXPECT_FALSE(acknowledged.empty());
    EXPECT_TRUE(Soon([&] { return Column(0, "state") == "done"; })) << Column(0, "state");
    EXPECT_EQ(Column(0, "progress"), "100");
    EXPECT_EQ(Column(0, "device"), PORTTABLE_Device(lines[0]->port));
    const auto closing = std::chrono::steady_clock::now();
    EXPECT_TRUE(dlg->OnClose());
    EXPECT_LT(std::chrono::steady_clock::now() - closing, 2s);
    EXPECT_EQ(Column(0, "state") + " " + Column(1, "state"), "off off");
}

#endif  // PELOR_HAVE_LIBPQ
