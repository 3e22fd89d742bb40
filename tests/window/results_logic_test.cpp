// Every job of the window on record: in production mode as in a Download, and when the window
// is closed during a run, first the jobs that ended and the ones cut off. The handsets sit on
// loopback lines, so plugging one in is its port's name appearing.
#include <chrono>
#include <cstdlib>
#include <memory>

#include "dialog_template.h"
#include "jobs/file_download.h"
#include "loop_socket.h"
#include "results/sqlite_store.h"
#include "window_fixture.h"

using namespace window_test;
using namespace std::chrono_literals;

#ifdef PELOR_HAVE_SQLITE
namespace {

using Socket = LoopSocket;

class WindowResultsTest : public WindowTest {
protected:
    void SetUp() override {
        const char* data = std::getenv("XDG_DATA_HOME");
        savedData_ = data != nullptr ? data : "";
        hadData_ = data != nullptr;
        ::setenv("XDG_DATA_HOME", (folder_ / "data").c_str(), 1);
        MakeCodeFolder();
    }
    void TearDown() override {
        sockets_.clear();
        if (hadData_) {
            ::setenv("XDG_DATA_HOME", savedData_.c_str(), 1);
        } else {
            ::unsetenv("XDG_DATA_HOME");
        }
    }
    void MakeCodeFolder() {
        const std::string code = folder_ / "WZRTAll";
        std::filesystem::create_directories(code);
        WriteAll(code + "/partition.mbn", std::string(300, 'p'));
        WriteAll(code + "/WZRTAllhd.mbn", std::string(1200, 'h'));
        WriteAll(code + "/WZRTAll.mbn", std::string(0x70000 + 3 * 16384, 'a'));
        WriteAll(Job(), "[PELOR]\nCODECHECK=1\nCODEFILE=" + code + "\n");
    }
    // A window with n sockets, each given its channel.
    std::unique_ptr<MemoryDlg> StartWith(int n) {
        auto dlg = Start("[PELOR]\nAUTODETECT=0\nDELAY=0\nSTATION=bench-w\n");
        static int line = 0;
        ++line;
        for (int ch = 0; ch < n; ++ch) {
            sockets_.push_back(
                std::make_unique<Socket>("res" + std::to_string(line) + "s" + std::to_string(ch)));
            dlg->SetChannelPort(ch, sockets_.back()->port());
        }
        return dlg;
    }
    std::vector<JobRecord> Rows() {
        std::string error;
        auto store = SqliteResultsStore::Open(folder_ / "data/pelor/results.db", &error);
        std::vector<JobRecord> rows;
        EXPECT_TRUE(store && store->Load({}, &rows, &error)) << error;
        std::sort(rows.begin(), rows.end(),
                  [](const JobRecord& a, const JobRecord& b) { return a.channel < b.channel; });
        return rows;
    }

    std::vector<std::unique_ptr<Socket>> sockets_;
    std::string savedData_;
    bool hadData_ = false;
};

}  // namespace

TEST_F(WindowResultsTest, ProductionModePutsEveryJobOnRecordAsADownloadDoes) {
    auto dlg = StartWith(2);
    dlg->SetContinuous(true);
    sockets_[0]->Plug();
    sockets_[1]->Plug("refuse:INIT_AMSS");
    auto ended = [&](int ch) {
        const std::string text = dlg->ChannelBar(ch)->GetWindowText();
        return text.rfind("OK: ", 0) == 0 || text.rfind("FAILED: ", 0) == 0;
    };
    dlg->SetDuringPump([&] {
        // Stop once both jobs have ended.
        if (dlg->Armed() && ended(0) && ended(1) && dlg->Control(IDC_DOWNLOAD)->isEnabled()) {
            Click(*dlg, IDC_DOWNLOAD);
        }
    });
    Click(*dlg, IDC_DOWNLOAD);
    EXPECT_FALSE(dlg->Armed());
    const std::vector<JobRecord> rows = Rows();
    ASSERT_EQ(rows.size(), 2u);
    for (const JobRecord& r : rows) {
        EXPECT_EQ(r.station, "bench-w");
        EXPECT_EQ(r.port, sockets_[r.channel]->device());
        EXPECT_EQ(r.images.size(), 3u);
        EXPECT_LT(r.startedAt, r.endedAt);
    }
    EXPECT_EQ(rows[0].result, "done");
    EXPECT_EQ(rows[0].bytesSent, 300 + 1200 + 3 * 16384);
    EXPECT_EQ(rows[1].result, "failed");
    EXPECT_EQ(rows[1].failStep, "selection");
    EXPECT_EQ(rows[1].failReason, "refused");
    EXPECT_EQ(dlg->ControlText(IDC_STATUS_LINE).rfind("Armed: done 1, failed 1, running 0", 0), 0u)
        << dlg->ControlText(IDC_STATUS_LINE);
}

// Closing the window during a run, or the system ending the station (SIGTERM, a logout), ends
// the process at once: the jobs are stopped first and each is on record as it ended by then.
// One in its final wait (GO sent, its answer not in) ends done; one stopped mid-image fails.
TEST_F(WindowResultsTest, EndingDuringARunStopsTheJobsAndPutsEachOnRecordAsItEndedInBothModes) {
    for (const bool continuous : {false, true}) {
        for (const bool closed : {true, false}) {
            SCOPED_TRACE(std::string(continuous ? "production mode, " : "a Download, ") +
                         (closed ? "window closed" : "station ended"));
            sockets_.clear();
            std::error_code ec;
            std::filesystem::remove_all(folder_ / "data", ec);
            auto dlg = StartWith(2);
            dlg->SetContinuous(continuous);
            SimHandset& finishing = sockets_[0]->Plug("drop:GO");  // the final wait
            SimOptions slow;
            slow.programLatencyPerBlock = 2s;  // far longer than the test
            SimHandset& stuck = sockets_[1]->Plug("", slow);
            std::vector<JobRecord> atExit;
            std::vector<int> codes;
            dlg->SetExitHandler([&](int code) {
                codes.push_back(code);
                atExit = Rows();  // what a process ending here leaves
            });
            std::chrono::steady_clock::duration ending{};
            bool asked = false;
            dlg->SetDuringPump([&] {
                if (asked || finishing.GoCount() < 1 || stuck.RequestCount() < 6) return;
                asked = true;
                const auto before = std::chrono::steady_clock::now();
                EXPECT_FALSE(closed ? dlg->OnClose() : dlg->OnEndSession());
                ending = std::chrono::steady_clock::now() - before;
            });
            Click(*dlg, IDC_DOWNLOAD);
            ASSERT_EQ(codes, std::vector<int>{1});
            EXPECT_LT(ending, 1500ms);
            ASSERT_EQ(atExit.size(), 2u);
            EXPECT_EQ(atExit[0].result, "done");
            EXPECT_EQ(atExit[1].result, "failed");
            EXPECT_EQ(atExit[1].failReason, "stopped");
            EXPECT_EQ(atExit[1].port, sockets_[1]->device());
            EXPECT_EQ(Rows().size(), 2u) << "each job once, also when the run then ends";
        }
    }
}
#endif
