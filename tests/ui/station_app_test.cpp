// The program's arguments and the file filters handed to the Qt file dialogs.
#include "station_app.h"

#include <gtest/gtest.h>

#include "qt_ui_dialogs.h"

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

TEST(StationArgsTest, SimulatedUnplugNamesAChannelWithAHandsetAndATime) {
    StationOptions o;
    std::string error;
    ASSERT_EQ(Parse({"--simulate", "3", "--simulate-unplug", "2:1.5"}, &o, &error), 1) << error;
    EXPECT_EQ(o.unplugChannel, 2);
    EXPECT_EQ(o.unplugAfterMs, 1500);
    ASSERT_EQ(Parse({"--simulate-unplug", "0:0", "--simulate", "1"}, &o, &error), 1) << error;
    EXPECT_EQ(o.unplugChannel, 0);
    EXPECT_EQ(o.unplugAfterMs, 0);
    const std::vector<std::vector<std::string>> bad = {
        {"--simulate-unplug", "0:1"},                     // no simulation
        {"--simulate", "2", "--simulate-unplug", "2:1"},  // channel 2 has no handset
        {"--simulate", "2", "--simulate-unplug", "1"},
        {"--simulate", "2", "--simulate-unplug", ":1"},
        {"--simulate", "2", "--simulate-unplug", "1:"},
        {"--simulate", "2", "--simulate-unplug", "1:-1"},
        {"--simulate", "2", "--simulate-unplug", "1:nan"},
        {"--simulate", "2", "--simulate-unplug", "x:1"},
        {"--simulate", "2", "--simulate-unplug"},
    };
    for (const auto& args : bad) {
        StationOptions rejected;
        EXPECT_EQ(Parse(args, &rejected, &error), 0) << args.back();
        EXPECT_FALSE(error.empty());
    }
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
