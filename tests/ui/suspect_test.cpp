// The Qt window routes a double-click on a channel's bar to the acknowledgement of that socket's
// suspect flag.
#include <gtest/gtest.h>

#include <QTest>

#include "caption_progress_ctrl.h"
#include "jobs/continuous_runner.h"
#include "link/outcome.h"
#include "qt_main_dlg.h"
#include "ui_test_support.h"

using ui_test::ScriptedDialogs;
using ui_test::StationFolder;
using ui_test::WriteAll;

TEST(QtSuspect, ADoubleClickOnASuspectSocketsBarAcknowledgesIt) {
    StationFolder folder;
    // One job per socket is enough to judge by.
    WriteAll(folder / "pelorw.ini",
             "[PELOR]\nAUTODETECT=0\nSUSPECT_WINDOW=1\nSUSPECT_FAILURES=1\nSUSPECT_MIN_JOBS=1\n");
    ScriptedDialogs dialogs;
    QtMainDlg dlg(&dialogs);
    dlg.SuspectsArmed();
    const auto now = std::chrono::system_clock::now();
    OUTCOME_Clear(1);
    OUTCOME_Record(1, JobStep::Block, JobReason::PortGone);
    dlg.JudgeSocket(ContinuousJob{1, "", now, now, false, "ERR: [1,0]"});
    dlg.JudgeSocket(ContinuousJob{0, "", now, now, true, "Download Complete! [40 sec]"});
    dlg.ShowSuspectBars();
    const auto bar = [&](int ch) { return dlg.ChannelBar(ch)->GetWindowText().toStdString(); };
    ASSERT_NE(bar(1).find("SUSPECT: 1 of 1 failed (port gone 1)"), std::string::npos) << bar(1);

    QTest::mouseDClick(dlg.ChannelBar(0), Qt::LeftButton);  // not suspect: nothing happens
    EXPECT_NE(bar(1).find("SUSPECT"), std::string::npos);
    QTest::mouseDClick(dlg.ChannelBar(1), Qt::LeftButton);
    EXPECT_EQ(bar(1).find("SUSPECT"), std::string::npos) << bar(1);
}
