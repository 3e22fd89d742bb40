// The program's arguments and the file filters handed to the Qt file dialogs.
#include "station_app.h"

#include <gtest/gtest.h>

#include "ui_dialogs.h"

namespace {

int Parse(std::vector<std::string> args, StationOptions* options, std::string* error) {
    return STATION_ParseArgs(args, options, error);
}

}  // namespace

TEST(StationArgsTest, NoArgumentsIsThePlainWindow) {
    StationOptions o;
    std::string error;
    ASSERT_EQ(Parse({}, &o, &error), 1);
    EXPECT_EQ(o.simulate, 0);
    EXPECT_TRUE(o.screenshot.empty());
}

TEST(StationArgsTest, SimulateAndScreenshot) {
    StationOptions o;
    std::string error;
    ASSERT_EQ(Parse({"--simulate", "8", "--screenshot", "docs/station.png"}, &o, &error), 1);
    EXPECT_EQ(o.simulate, 8);
    EXPECT_EQ(o.screenshot, "docs/station.png");
}

TEST(StationArgsTest, UsageErrorsAreRefused) {
    const std::vector<std::vector<std::string>> bad = {
        {"--simulate"},       {"--simulate", "0"},       {"--simulate", "9"},
        {"--simulate", "2x"}, {"--screenshot", "a.png"}, {"--frobnicate"},
        {"--simulate", ""},
    };
    for (const auto& args : bad) {
        StationOptions o;
        std::string error;
        EXPECT_EQ(Parse(args, &o, &error), 0) << args[0];
        EXPECT_FALSE(error.empty());
    }
}

TEST(UiFilterTest, PairsOfTextAndPatternBecomeQtFilters) {
    EXPECT_EQ(UI_QtFilter("Pelor Files(*.plr)|*.plr||"), "Pelor Files (*.plr)");
    EXPECT_EQ(UI_QtFilter("Etc Files(*.*)|*.*||"), "Etc Files (*.*)");
    EXPECT_EQ(UI_QtFilter("Images|*.mbn;*.bin|All|*||"), "Images (*.mbn *.bin);;All (*)");
    EXPECT_EQ(UI_QtFilter(""), "");
}
