// The window puts every Download's jobs on record and shows the session's count.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QTimer>
#include <algorithm>
#include <csignal>
#include <cstdlib>

#include "dialog_template.h"
#include "qt_main_dlg.h"
#include "results/sqlite_store.h"
#include "sim/sim_fault.h"
#include "sim/sim_handset.h"
#include "transport/port_table.h"
#include "ui_test_support.h"

using ui_test::ScriptedDialogs;
using ui_test::StationFolder;
using ui_test::WriteAll;

#ifdef PELOR_HAVE_SQLITE
TEST(ResultsWindow, EachDownloadIsOnRecordAndTheStatusLineCountsTheSession) {
    StationFolder folder;
    const char* saved = std::getenv("XDG_DATA_HOME");
    const std::string previous = saved != nullptr ? saved : "";
    ::setenv("XDG_DATA_HOME", (folder / "data").c_str(), 1);
    const std::string code = ui_test::MakeCodeFolder(folder.path(), 0x70000 + 20000);
    WriteAll(folder / "pelorw.ini", "[PELOR]\nAUTODETECT=0\nDELAY=0\nSTATION=bench-9\n");
    WriteAll(folder / "default.plr", "[PELOR]\nCODECHECK=1\nCODEFILE=" + code + "\n");

    std::vector<std::unique_ptr<SimHandset>> handsets;
    std::string error;
    for (const char* fault : {"", "refuse:INIT_AMSS"}) {
        SimOptions options;
        if (fault[0] != '\0') {
            ASSERT_TRUE(SIM_ParseFaults(fault, options.faults, error)) << error;
        }
        handsets.push_back(SimHandset::StartOnPty(options, &error));
        ASSERT_TRUE(handsets.back()) << error;
    }
    {
        ScriptedDialogs dialogs;
        QtMainDlg dlg(&dialogs);
        dlg.SetExitHandler([](int) { ADD_FAILURE() << "the process would have ended"; });
        for (int ch = 0; ch < 2; ++ch)
            dlg.SetChannelPort(ch, PORTTABLE_Assign(handsets[ch]->DevicePath()));
        dlg.show();
        dlg.Button(IDC_DOWNLOAD)->click();
        EXPECT_EQ(dlg.ControlText(IDC_STATUS_LINE), "Session: 1 done / 1 failed");
        dlg.Button(IDC_DOWNLOAD)->click();
        EXPECT_EQ(dlg.ControlText(IDC_STATUS_LINE), "Session: 2 done / 2 failed");
        EXPECT_EQ(dlg.ResultsDone(), 2);
        EXPECT_EQ(dlg.ResultsFailed(), 2);
    }
    auto store = SqliteResultsStore::Open(folder / "data/pelor/results.db", &error);
    ASSERT_TRUE(store) << error;
    std::vector<JobRecord> rows;
    ASSERT_TRUE(store->Load({}, &rows, &error)) << error;
    ASSERT_EQ(rows.size(), 4u);
    for (const JobRecord& r : rows) {
        EXPECT_EQ(r.station, "bench-9");
        EXPECT_EQ(r.port, handsets[r.channel]->DevicePath());
        EXPECT_EQ(r.result, r.channel == 0 ? "done" : "failed");
        EXPECT_EQ(r.images.size(), 3u);
        EXPECT_EQ(r.lastText.rfind(r.channel == 0 ? "Download Complete! [" : "ERR: Init AMSS", 0),
                  0u)
            << r.lastText;
    }
    for (auto& h : handsets) h->Stop();
    if (saved != nullptr) {
        ::setenv("XDG_DATA_HOME", previous.c_str(), 1);
    } else {
        ::unsetenv("XDG_DATA_HOME");
    }
}

// SIGTERM (or SIGHUP, or the desktop session ending) during a run does what closing the window
// does: the jobs are stopped first, each is on record as it ended, then the process ends.
TEST(ResultsWindow, ASignalToEndTheStationDuringARunPutsItsJobsOnRecordFirst) {
    StationFolder folder;
    const char* saved = std::getenv("XDG_DATA_HOME");
    const std::string previous = saved != nullptr ? saved : "";
    ::setenv("XDG_DATA_HOME", (folder / "data").c_str(), 1);
    const std::string code = ui_test::MakeCodeFolder(folder.path(), 0x70000 + 20000);
    WriteAll(folder / "pelorw.ini", "[PELOR]\nAUTODETECT=0\nDELAY=0\nSTATION=bench-9\n");
    WriteAll(folder / "default.plr", "[PELOR]\nCODECHECK=1\nCODEFILE=" + code + "\n");
    std::string error;
    SimOptions finishingOptions;  // GO is not answered: the job's final wait
    ASSERT_TRUE(SIM_ParseFaults("drop:GO", finishingOptions.faults, error)) << error;
    auto finishing = SimHandset::StartOnPty(finishingOptions, &error);
    ASSERT_TRUE(finishing) << error;
    SimOptions slow;
    slow.programLatencyPerBlock = std::chrono::seconds(2);  // far longer than the test
    auto stuck = SimHandset::StartOnPty(slow, &error);
    ASSERT_TRUE(stuck) << error;
    const std::string db = folder / "data/pelor/results.db";
    auto rows = [&db] {
        std::string why;
        auto store = SqliteResultsStore::Open(db, &why);
        std::vector<JobRecord> all;
        EXPECT_TRUE(store && store->Load({}, &all, &why)) << why;
        std::sort(all.begin(), all.end(),
                  [](const JobRecord& a, const JobRecord& b) { return a.channel < b.channel; });
        return all;
    };
    std::vector<int> codes;
    std::vector<JobRecord> atExit;
    {
        ScriptedDialogs dialogs;
        QtMainDlg dlg(&dialogs);
        dlg.SetExitHandler([&](int code) {
            codes.push_back(code);
            atExit = rows();  // what a process ending here leaves
        });
        dlg.EndOnSystemRequests();
        dlg.SetChannelPort(0, PORTTABLE_Assign(finishing->DevicePath()));
        dlg.SetChannelPort(1, PORTTABLE_Assign(stuck->DevicePath()));
        dlg.show();
        QTimer watch;
        bool sent = false;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (sent || finishing->GoCount() < 1 || stuck->RequestCount() < 6) return;
            sent = true;
            std::raise(SIGTERM);
        });
        watch.start(5);
        dlg.Button(IDC_DOWNLOAD)->click();
    }
    EXPECT_EQ(codes, std::vector<int>{1});
    ASSERT_EQ(atExit.size(), 2u);
    EXPECT_EQ(atExit[0].result, "done");
    EXPECT_EQ(atExit[1].result, "failed");
    EXPECT_EQ(atExit[1].failReason, "stopped");
    finishing->Stop();
    stuck->Stop();
    if (saved != nullptr) {
        ::setenv("XDG_DATA_HOME", previous.c_str(), 1);
    } else {
        ::unsetenv("XDG_DATA_HOME");
    }
}
#endif
