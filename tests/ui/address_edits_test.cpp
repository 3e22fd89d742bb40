// The address edits: what typing does to them.
#include "address_edits.h"

#include <gtest/gtest.h>

#include <QDialog>
#include <QSignalSpy>
#include <QTest>

TEST(HexEditTest, TakesHexDigitsAndShowsThemInUpperCase) {
    CHexEdit edit;
    QTest::keyClicks(&edit, "1a2b0f");
    EXPECT_EQ(edit.text(), QStringLiteral("1A2B0F"));
}

TEST(HexEditTest, DropsEverythingThatIsNotAHexDigit) {
    CHexEdit edit;
    QTest::keyClicks(&edit, "g-x 9.Z,0x");
    EXPECT_EQ(edit.text(), QStringLiteral("90"));
}

TEST(HexEditTest, StopsAtEightCharactersButBackspaceAlwaysWorks) {
    CHexEdit edit;
    QTest::keyClicks(&edit, "123456789");
    EXPECT_EQ(edit.text(), QStringLiteral("12345678"));
    QTest::keyClick(&edit, Qt::Key_Backspace);
    EXPECT_EQ(edit.text(), QStringLiteral("1234567"));
    QTest::keyClicks(&edit, "ef");
    EXPECT_EQ(edit.text(), QStringLiteral("1234567E"));
}

TEST(HexEditTest, TheLimitCountsTheWholeTextEvenOverASelection) {
    CHexEdit edit;
    edit.setText(QStringLiteral("ABCDEF01"));
    edit.selectAll();
    QTest::keyClicks(&edit, "7");
    EXPECT_EQ(edit.text(), QStringLiteral("ABCDEF01"));
}

TEST(HexEditTest, KeysThatTypeNothingStillAct) {
    CHexEdit edit;
    edit.setText(QStringLiteral("1234"));
    edit.setCursorPosition(0);
    QTest::keyClick(&edit, Qt::Key_Delete);
    EXPECT_EQ(edit.text(), QStringLiteral("234"));
    QTest::keyClick(&edit, Qt::Key_End);
    QTest::keyClicks(&edit, "a");
    EXPECT_EQ(edit.text(), QStringLiteral("234A"));
}

TEST(NoTypeEditTest, SwallowsEveryTypedCharacterBackspaceIncluded) {
    CNoTypeEdit edit;
    edit.setText(QStringLiteral("70000"));
    QTest::keyClicks(&edit, "12ab !");
    QTest::keyClick(&edit, Qt::Key_Backspace);
    EXPECT_EQ(edit.text(), QStringLiteral("70000"));
    QTest::keyClick(&edit, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(edit.text(), QStringLiteral("70000"));
}

TEST(NoTypeEditTest, DeleteStillActs) {
    CNoTypeEdit edit;
    edit.setText(QStringLiteral("70000"));
    edit.setCursorPosition(0);
    QTest::keyClick(&edit, Qt::Key_Delete);
    EXPECT_EQ(edit.text(), QStringLiteral("0000"));
}

TEST(AddressEditsTest, EscapeStillReachesTheDialog) {
    QDialog dialog;
    CHexEdit hex(&dialog);
    CNoTypeEdit code(&dialog);
    QSignalSpy rejected(&dialog, &QDialog::rejected);
    dialog.show();
    QTest::keyClick(&hex, Qt::Key_Escape);
    EXPECT_EQ(rejected.count(), 1);
    dialog.show();
    QTest::keyClick(&code, Qt::Key_Escape);
    EXPECT_EQ(rejected.count(), 2);
}
