// The channels' ports on the in-memory host: the selectors, Auto, devices arriving and being
// removed, and how the selectors name the devices behind the port numbers.
#include "config/settings.h"
#include "dialog_template.h"
#include "transport/port_table.h"
#include "window_fixture.h"

using namespace window_test;

namespace {

class WindowPortsTest : public WindowTest {};

}  // namespace

TEST_F(WindowPortsTest, APortAlreadyInUseLeavesTheChannelWithoutOne) {
    auto dlg = Start("[PELOR]\nAUTODETECT=0\nCH5_PORT=6\n");
    dlg->SetControlText(kChannelBarIds[2], std::string("Done"));
    dlg->PortSelector(2)->activate(6);  // channel 5's port
    EXPECT_EQ(dlg->Port(2), 0);
    EXPECT_EQ(dlg->PortSelector(2)->currentIndex(), 0);
    EXPECT_EQ(dlg->PortSelector(2)->currentText(), std::string("-----------"));
    EXPECT_TRUE(dlg->ChannelBar(2)->GetWindowText().empty());
    EXPECT_EQ(dlg->Port(5), 6);

    dlg->PortSelector(2)->activate(7);
    EXPECT_EQ(dlg->Port(2), 7);
    EXPECT_EQ(dlg->PortSelector(2)->currentIndex(), 7);
    // Choosing its own port again counts as a port in use.
    dlg->PortSelector(2)->activate(7);
    EXPECT_EQ(dlg->Port(2), 0);
    EXPECT_EQ(dlg->PortSelector(2)->currentIndex(), 0);
    EXPECT_TRUE(dlg->Control(IDC_DOWNLOAD)->isEnabled());
}

TEST_F(WindowPortsTest, AutoGivesArrivingDevicesTheFirstFreeChannelAndLocksItsSelector) {
    auto dlg = Start();
    ASSERT_TRUE(dlg->IsChecked(IDC_AUTO));
    ASSERT_FALSE(dlg->Control(IDC_DOWNLOAD)->isEnabled());
    dlg->OnDeviceArrival(3);
    dlg->OnDeviceArrival(4);
    dlg->OnDeviceArrival(7);
    EXPECT_EQ(dlg->Port(0), 3);
    EXPECT_EQ(dlg->Port(1), 4);
    EXPECT_EQ(dlg->Port(2), 7);
    EXPECT_EQ(dlg->PortSelector(2)->currentIndex(), 7);
    EXPECT_FALSE(dlg->PortSelector(2)->isEnabled());
    EXPECT_EQ(dlg->ChannelBar(2)->GetWindowText(), std::string("Ready..."));
    EXPECT_EQ(dlg->ControlText(IDC_STATUS_LINE), "Detect COM7 Port");
    EXPECT_TRUE(dlg->Control(IDC_DOWNLOAD)->isEnabled());

    // The same port on a later channel too: the first keeps it, the later one loses it.
    dlg->SetChannelPort(5, 7);
    dlg->Enable(kPortSelectorIds[5], false);
    dlg->OnDeviceArrival(7);
    EXPECT_EQ(dlg->Port(2), 7);
    EXPECT_EQ(dlg->Port(5), 0);
    EXPECT_EQ(dlg->PortSelector(5)->currentIndex(), 0);
    EXPECT_TRUE(dlg->PortSelector(5)->isEnabled());
    EXPECT_TRUE(dlg->ChannelBar(5)->GetWindowText().empty());

    // All eight busy: a ninth device changes the status line only.
    for (int port = 11; port <= 15; ++port) dlg->OnDeviceArrival(port);
    std::array<int, kChannels> before = dlg->Ports();
    ASSERT_EQ(before, (std::array<int, kChannels>{3, 4, 7, 11, 12, 13, 14, 15}));
    dlg->OnDeviceArrival(20);
    EXPECT_EQ(dlg->ControlText(IDC_STATUS_LINE), "Detect COM20 Port");
    EXPECT_EQ(dlg->Ports(), before);
    for (int ch = 0; ch < kChannels; ++ch)
        EXPECT_EQ(dlg->ChannelBar(ch)->GetWindowText(), std::string("Ready..."));

    // Auto on again: every channel waits for a device, Download is off, the selectors stay
    // as they were (usable or locked).
    dlg->Button(IDC_AUTO)->click();  // off
    dlg->Button(IDC_AUTO)->click();  // on
    EXPECT_EQ(g_bAutoDetect.load(), 1);
    for (int ch = 0; ch < kChannels; ++ch) {
        EXPECT_EQ(dlg->Port(ch), 0);
        EXPECT_EQ(dlg->PortSelector(ch)->currentIndex(), 0);
        EXPECT_TRUE(dlg->ChannelBar(ch)->GetWindowText().empty());
    }
    EXPECT_FALSE(dlg->Control(IDC_DOWNLOAD)->isEnabled());
}

TEST_F(WindowPortsTest, RemovalWhileIdleClearsItsChannelAlsoWithAutoOff) {
    auto dlg = Start("[PELOR]\nAUTODETECT=0\nCH3_PORT=5\nCH4_PORT=5\n");
    dlg->SetControlText(kChannelBarIds[3], std::string("Download Complete! [12 sec]"));
    dlg->OnDeviceRemoval(5);
    EXPECT_EQ(dlg->ControlText(IDC_STATUS_LINE), "Disconnect COM5 Port");
    EXPECT_EQ(dlg->Port(3), 0);
    EXPECT_EQ(dlg->PortSelector(3)->currentIndex(), 0);
    EXPECT_TRUE(dlg->PortSelector(3)->isEnabled());
    EXPECT_TRUE(dlg->ChannelBar(3)->GetWindowText().empty());
    EXPECT_EQ(dlg->Port(4), 5);  // only the first channel with the port
    dlg->OnDeviceRemoval(5);
    EXPECT_EQ(dlg->Port(4), 0);
    // Download keeps its state although no channel has a port left.
    EXPECT_TRUE(dlg->Control(IDC_DOWNLOAD)->isEnabled());
    // A device without a port number of this station's says nothing.
    dlg->OnDeviceRemoved("/dev/ttyUSB9");
    EXPECT_EQ(dlg->ControlText(IDC_STATUS_LINE), "Disconnect COM5 Port");
}

TEST(PortNameTest, BroadcastNamesGiveTheirNumberFromTheFourthCharacter) {
    EXPECT_EQ(UI_PortNumberFromName("COM7"), 7);
    EXPECT_EQ(UI_PortNumberFromName("COM30"), 30);
    EXPECT_EQ(UI_PortNumberFromName("XYZ12"), 12);  // the first three are not compared
    EXPECT_EQ(UI_PortNumberFromName("COM"), 0);
    EXPECT_EQ(UI_PortNumberFromName("CO"), 0);
    EXPECT_EQ(UI_PortNumberFromName("COMx"), 0);
    EXPECT_EQ(UI_PortNumberFromName("COM0"), 0);
    EXPECT_EQ(UI_PortDeviceName("/dev/pts/7"), "pts7");
    EXPECT_EQ(UI_PortDeviceName("/dev/ttyUSB3"), "ttyUSB3");
}

TEST_F(WindowPortsTest, APortAboveThirtyIsKeptWithoutAnEntry) {
    auto dlg = Start("[PELOR]\nAUTODETECT=1\n");
    dlg->OnDeviceArrival(31);
    EXPECT_EQ(dlg->Port(0), 31);
    EXPECT_EQ(dlg->PortSelector(0)->currentIndex(), -1);
    EXPECT_TRUE(dlg->Control(IDC_DOWNLOAD)->isEnabled());
    // Nothing that is not a port number is assigned.
    dlg->OnDeviceArrival(0);
    dlg->OnDeviceArrival(-3);
    dlg->OnDeviceRemoval(0);
    EXPECT_EQ(dlg->Port(1), 0);
    EXPECT_EQ(dlg->ControlText(IDC_STATUS_LINE), "Detect COM31 Port");
}

TEST_F(WindowPortsTest, SelectorEntriesNameTheDeviceBehindEachNumberWhereNumbersAreNotComPorts) {
    auto dlg = Start("[PELOR]\nAUTODETECT=0\nCH0_PORT=2\n");
    ASSERT_EQ(PORTTABLE_Assign("/dev/ttyUSB4"), 1);
    ASSERT_EQ(PORTTABLE_Assign("/dev/pts/9"), 2);
    dlg->RefreshPortSelectors();
    const MemoryControl* selector = dlg->PortSelector(0);
    ASSERT_EQ(selector->count(), 31);
#if defined(_WIN32)
    // Port n is COMn itself: the entries are the plain names and there are no tips.
    EXPECT_EQ(selector->itemText(1), "COM1");
    EXPECT_EQ(selector->itemText(2), "COM2");
    EXPECT_EQ(selector->toolTip(), "");
#else
    EXPECT_EQ(selector->itemText(1), "COM1 ttyUSB4");
    EXPECT_EQ(selector->itemTip(1), "/dev/ttyUSB4");
    EXPECT_EQ(selector->itemText(2), "COM2 pts9");
    EXPECT_EQ(selector->toolTip(), "/dev/pts/9");  // channel 0's port
    EXPECT_EQ(dlg->PortSelector(1)->toolTip(), "");
#endif
    EXPECT_EQ(selector->itemText(3), "COM3");
    EXPECT_EQ(selector->currentIndex(), 2);  // the selection survives the new entries
}
