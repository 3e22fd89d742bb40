// The captioned progress bar: fill widths, repaints limited to real changes, the caption in
// two colours, and nothing drawn for an empty range.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QTest>

#include "caption_progress_ctrl.h"

namespace {

// A bar whose client area (inside the one-pixel border) is width x 20 pixels.
class CaptionProgressTest : public ::testing::Test {
protected:
    void Size(int width) { bar_.resize(width + 2, 22); }
    void Show() {
        bar_.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&bar_));
        QApplication::processEvents();
    }
    // The client row through the middle of the bar, as drawn.
    QImage Picture() { return bar_.grab().toImage().convertToFormat(QImage::Format_RGB32); }
    int CountInRow(const QImage& image, int y, QColor colour) {
        int n = 0;
        for (int x = 1; x < image.width() - 1; ++x) n += image.pixelColor(x, y) == colour ? 1 : 0;
        return n;
    }

    CCaptionProgressCtrl bar_;
};

}  // namespace

TEST_F(CaptionProgressTest, HalfOfTwoHundredPixelsIsAHundredFilled) {
    Size(200);
    bar_.SetRange(0, 100);
    bar_.SetPos(50);
    EXPECT_EQ(bar_.BarWidth(), 100);
    const QImage image = Picture();
    for (int x = 0; x < 200; ++x) {
        const QColor expected = x < 100 ? bar_.BarColor() : bar_.BackgroundColor();
        ASSERT_EQ(image.pixelColor(1 + x, 11), expected) << "x=" << x;
    }
}

TEST_F(CaptionProgressTest, ThirdsTruncateTowardZero) {
    Size(100);
    bar_.SetRange(0, 3);
    const int expected[] = {0, 33, 66, 100};
    for (int pos = 0; pos <= 3; ++pos) {
        bar_.SetPos(pos);
        EXPECT_EQ(bar_.BarWidth(), expected[pos]) << "pos=" << pos;
        EXPECT_EQ(CountInRow(Picture(), 11, bar_.BarColor()), expected[pos]);
    }
}

TEST_F(CaptionProgressTest, PositionsBeyondTheBoundsShowAFullOrEmptyBar) {
    Size(100);
    bar_.SetRange(10, 20);
    bar_.SetPos(500);
    EXPECT_EQ(bar_.BarWidth(), 100);
    EXPECT_EQ(CountInRow(Picture(), 11, bar_.BarColor()), 100);
    bar_.SetPos(-500);
    EXPECT_EQ(bar_.BarWidth(), 0);
    EXPECT_EQ(CountInRow(Picture(), 11, bar_.BackgroundColor()), 100);
}

TEST_F(CaptionProgressTest, SetPosReturnsThePreviousPosition) {
    Size(100);
    EXPECT_EQ(bar_.SetPos(7), 0);
    EXPECT_EQ(bar_.SetPos(9), 7);
    EXPECT_EQ(bar_.Pos(), 9);
}

TEST_F(CaptionProgressTest, RepaintsAtOnceOnlyWhenTheFilledWidthChanges) {
    Size(100);
    Show();
    bar_.SetRange(0, 1000);
    bar_.SetPos(10);  // width 1
    QApplication::processEvents();
    const int before = bar_.PaintCount();
    bar_.SetPos(11);  // still width 1
    QApplication::processEvents();
    EXPECT_EQ(bar_.PaintCount(), before);
    bar_.SetPos(25);  // width 2: painted before SetPos returns
    EXPECT_EQ(bar_.PaintCount(), before + 1);
    QApplication::processEvents();
    EXPECT_EQ(bar_.PaintCount(), before + 1);
}

TEST_F(CaptionProgressTest, CaptionChangeInvalidatesOnlyWhenTheTextDiffers) {
    Size(100);
    Show();
    const int before = bar_.PaintCount();
    bar_.SetWindowText(QStringLiteral("Erasing..."));
    EXPECT_EQ(bar_.PaintCount(), before);  // invalidated, painted at the next cycle
    QApplication::processEvents();
    EXPECT_EQ(bar_.PaintCount(), before + 1);
    bar_.SetWindowText(QStringLiteral("Erasing..."));
    QApplication::processEvents();
    EXPECT_EQ(bar_.PaintCount(), before + 1);
    EXPECT_EQ(bar_.GetWindowText(), QStringLiteral("Erasing..."));
    EXPECT_EQ(bar_.text(), QStringLiteral("Erasing..."));
}

TEST_F(CaptionProgressTest, ResizeMakesTheNextSetPosRepaint) {
    Size(100);
    Show();
    bar_.SetPos(50);
    Size(120);
    QApplication::processEvents();
    EXPECT_EQ(bar_.BarWidth(), -1);
    const int before = bar_.PaintCount();
    bar_.SetPos(50);
    EXPECT_EQ(bar_.PaintCount(), before + 1);
    EXPECT_EQ(bar_.BarWidth(), 60);
}

TEST_F(CaptionProgressTest, CaptionIsWrittenInTwoColoursAcrossTheSplit) {
    Size(200);
    bar_.SetRange(0, 100);
    bar_.SetPos(50);
    bar_.SetWindowText(QStringLiteral("MMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMM"));
    const QImage image = Picture();
    int onBar = 0, black = 0, blackOverBar = 0, textColourOverEmpty = 0;
    for (int y = 1; y < image.height() - 1; ++y) {
        for (int x = 1; x <= 200; ++x) {
            const QColor c = image.pixelColor(x, y);
            const bool filled = x <= 100;
            if (c == bar_.TextOnBarColor() && filled) ++onBar;
            if (c == QColor(Qt::black)) {
                ++black;
                if (filled) ++blackOverBar;
            }
            if (c == bar_.TextOnBarColor() && !filled && c != bar_.BackgroundColor()) {
                ++textColourOverEmpty;
            }
        }
    }
    EXPECT_GT(onBar, 20);
    EXPECT_GT(black, 20);
    EXPECT_EQ(blackOverBar, 0);
    EXPECT_EQ(textColourOverEmpty, 0);
}

TEST_F(CaptionProgressTest, EmptyCaptionOverATextRemovesIt) {
    Size(100);
    bar_.SetWindowText(QStringLiteral("MMMMMMMM"));
    bar_.SetWindowText(QString());
    const QImage image = Picture();
    EXPECT_EQ(CountInRow(image, 11, QColor(Qt::black)), 0);
    EXPECT_EQ(CountInRow(image, 11, bar_.BackgroundColor()), 100);
}

TEST_F(CaptionProgressTest, EmptyOrInvertedRangeDrawsNoBarAndNoCaption) {
    Size(100);
    bar_.SetWindowText(QStringLiteral("MMMMMMMM"));
    for (auto [lower, upper] : {std::pair{5, 5}, std::pair{9, 2}}) {
        bar_.SetRange(lower, upper);
        bar_.SetPos(7);
        EXPECT_EQ(bar_.BarWidth(), 0);
        const QImage image = Picture();
        EXPECT_EQ(CountInRow(image, 11, bar_.BarColor()), 0);
        EXPECT_EQ(CountInRow(image, 11, QColor(Qt::black)), 0);
    }
    // Position and caption are still stored.
    EXPECT_EQ(bar_.Pos(), 7);
    EXPECT_EQ(bar_.GetWindowText(), QStringLiteral("MMMMMMMM"));
}
