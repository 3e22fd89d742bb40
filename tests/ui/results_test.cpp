// The window puts every Download's jobs on record and shows the session's count.
#include <gtest/gtest.h>

#include <QAbstractButton>
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
        EXPECT_EQ(r.lastText.rfind(r.channel == 0 ? "Download Complete! [" : "Init AMSS", 0), 0u)
            << r.lastText;
    }
    for (auto& h : handsets) h->Stop();
    if (saved != nullptr) {
        ::setenv("XDG_DATA_HOME", previous.c_str(), 1);
    } else {
        ::unsetenv("XDG_DATA_HOME");
    }
}
#endif
