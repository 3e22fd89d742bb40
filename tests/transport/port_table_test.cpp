// The port table: numbers given to devices, section "PORTS" of the settings file, and the
// devices a scan lists.
#include "transport/port_table.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <thread>
#include <vector>

#include "config/ini_file.h"
#include "transport_test_util.h"

namespace {

namespace fs = std::filesystem;

class PortTableTest : public ::testing::Test {
protected:
    void SetUp() override { PORTTABLE_Clear(); }
    void TearDown() override { PORTTABLE_Clear(); }
};

TEST_F(PortTableTest, NewDeviceGetsTheLowestFreeNumberAndKeepsIt) {
    EXPECT_EQ(PORTTABLE_Assign("/dev/ttyUSB0"), 1);
    EXPECT_EQ(PORTTABLE_Assign("/dev/ttyUSB1"), 2);
    PORTTABLE_Set(4, "/dev/ttyACM0");
    EXPECT_EQ(PORTTABLE_Assign("/dev/ttyUSB0"), 1);
    EXPECT_EQ(PORTTABLE_Assign("/dev/ttyUSB2"), 3);
    EXPECT_EQ(PORTTABLE_Assign("/dev/ttyUSB3"), 5);

    PORTTABLE_Set(1, "");  // number 1 given up
    EXPECT_EQ(PORTTABLE_Device(1), "");
    EXPECT_EQ(PORTTABLE_Find("/dev/ttyUSB0"), 0);
    EXPECT_EQ(PORTTABLE_Assign("/dev/ttyACM9"), 1);
    EXPECT_EQ(PORTTABLE_Find("/dev/ttyUSB1"), 2);
    EXPECT_EQ(PORTTABLE_Device(4), "/dev/ttyACM0");
    EXPECT_EQ(PORTTABLE_Assign(""), 0);
    EXPECT_EQ(PORTTABLE_Device(0), "");
    EXPECT_EQ(PORTTABLE_Device(kMaxPortNumber + 1), "");
}

TEST_F(PortTableTest, ADeviceHasOneNumber) {
    PORTTABLE_Set(3, "/dev/ttyUSB0");
    PORTTABLE_Set(6, "/dev/ttyUSB0");
    EXPECT_EQ(PORTTABLE_Device(3), "");
    EXPECT_EQ(PORTTABLE_Find("/dev/ttyUSB0"), 6);
}

TEST_F(PortTableTest, FullTableGivesNoNumber) {
    for (int n = 1; n <= kMaxPortNumber; ++n) PORTTABLE_Set(n, "/dev/x" + std::to_string(n));
    EXPECT_EQ(PORTTABLE_Assign("/dev/one-too-many"), 0);
    EXPECT_EQ(PORTTABLE_Assign("/dev/x17"), 17);
}

TEST_F(PortTableTest, AssignFromManyThreadsGivesDistinctNumbers) {
    std::vector<std::thread> threads;
    std::array<std::vector<int>, 8> numbers;
    for (std::size_t t = 0; t < numbers.size(); ++t) {
        threads.emplace_back([t, &numbers] {
            for (int i = 0; i < 20; ++i) {
                numbers[t].push_back(
                    PORTTABLE_Assign("/dev/t" + std::to_string(t) + "-" + std::to_string(i)));
            }
        });
    }
    for (auto& thread : threads) thread.join();
    std::set<int> all;
    for (const auto& list : numbers) all.insert(list.begin(), list.end());
    EXPECT_EQ(all.size(), 160u);
    EXPECT_EQ(*all.begin(), 1);
    EXPECT_EQ(*all.rbegin(), 160);
}

TEST_F(PortTableTest, SaveAndLoadSectionPortsKeepingTheRestOfTheFile) {
    transport_test::TempDir dir;
    const std::string ini = dir.File("pelorw.ini");
    std::ofstream(ini) << "[PELOR]\nBAUDRATE=1382400\n[PORTS]\nCOM9=/dev/ttyOLD\n";

    PORTTABLE_Set(1, "/dev/serial/by-path/pci-0000:00:14.0-usb-0:1:1.0-port0");
    PORTTABLE_Set(5, "/dev/ttyACM0");
    ASSERT_EQ(PORTTABLE_Save(ini), 1);
    EXPECT_EQ(INI_GetInt(ini, "PELOR", "BAUDRATE", 0), 1382400);
    EXPECT_EQ(INI_GetString(ini, "PORTS", "COM5", ""), "/dev/ttyACM0");

    PORTTABLE_Clear();
    ASSERT_EQ(PORTTABLE_Load(ini), 1);
    EXPECT_EQ(PORTTABLE_Device(1), "/dev/serial/by-path/pci-0000:00:14.0-usb-0:1:1.0-port0");
    EXPECT_EQ(PORTTABLE_Device(5), "/dev/ttyACM0");
    EXPECT_EQ(PORTTABLE_Device(9), "");  // not in the table when saved
    EXPECT_EQ(PORTTABLE_Assign("/dev/ttyUSB7"), 2);

    // Load replaces the table; a missing file gives an empty one.
    ASSERT_EQ(PORTTABLE_Load(dir.File("missing.ini")), 1);
    EXPECT_EQ(PORTTABLE_Device(1), "");
}

TEST_F(PortTableTest, LoadKeepsTheFirstNumberOfADeviceListedTwice) {
    transport_test::TempDir dir;
    const std::string ini = dir.File("pelorw.ini");
    std::ofstream(ini) << "[ports]\ncom2=/dev/ttyUSB0\nCOM3=/dev/ttyUSB0\nCOM4=\n";
    ASSERT_EQ(PORTTABLE_Load(ini), 1);
    EXPECT_EQ(PORTTABLE_Find("/dev/ttyUSB0"), 2);
    EXPECT_EQ(PORTTABLE_Device(3), "");
    EXPECT_EQ(PORTTABLE_Assign("/dev/ttyUSB1"), 1);
}

class FakeDev {
public:
    FakeDev() {
        fs::create_directories(fs::path(dir_.path()) / "serial" / "by-path");
        for (const char* name :
             {"ttyUSB0", "ttyUSB1", "ttyUSB2", "ttyUSB10", "ttyACM0", "ttyS0", "null", "tty1"}) {
            std::ofstream(dir_.File(name)) << "";
        }
        fs::create_symlink("../../ttyUSB1", ByPath("pci-0000:00:14.0-usb-0:2:1.0-port0"));
        fs::create_symlink("../../ttyUSB9", ByPath("pci-0000:00:14.0-usb-0:3:1.0-port0"));
    }
    std::string ByPath(const std::string& name) const {
        return dir_.path() + "/serial/by-path/" + name;
    }
    const std::string& path() const { return dir_.path(); }

private:
    transport_test::TempDir dir_;
};

TEST(PortScan, PrefersByPathNamesAndListsEachDeviceOnce) {
    FakeDev dev;
    const std::vector<std::string> expected = {
        dev.ByPath("pci-0000:00:14.0-usb-0:2:1.0-port0"),
        dev.path() + "/ttyACM0",
        dev.path() + "/ttyUSB0",
        dev.path() + "/ttyUSB2",
        dev.path() + "/ttyUSB10",
    };
    EXPECT_EQ(PORTTABLE_ScanDevicesIn(dev.path()), expected);
}

TEST(PortScan, ShortNamesAreTheTtyNames) {
    FakeDev dev;
    EXPECT_EQ(PORTTABLE_ShortName("/dev/ttyUSB0"), "ttyUSB0");
    EXPECT_EQ(PORTTABLE_ShortName("/dev/pts/7"), "7");
    EXPECT_EQ(PORTTABLE_ShortName(dev.ByPath("pci-0000:00:14.0-usb-0:2:1.0-port0")), "ttyUSB1");
    // A link whose device is gone keeps its own name.
    EXPECT_EQ(PORTTABLE_ShortName(dev.ByPath("pci-0000:00:14.0-usb-0:3:1.0-port0")),
              "pci-0000:00:14.0-usb-0:3:1.0-port0");
}

}  // namespace
