// What the station reads of a socket's device: whether something else is plugged in than
// before (a link or node made again, however quickly), and the serial number shown by id.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "support/temp_dir.h"
#include "transport/port_identity.h"
#include "transport/port_presence.h"

namespace {

namespace fs = std::filesystem;

// Makes link lead to target at once, as a line or udev does: made aside, renamed into place.
void Point(const std::string& link, const std::string& target) {
    const std::string temp = link + ".new";
    ASSERT_EQ(::symlink(target.c_str(), temp.c_str()), 0);
    ASSERT_EQ(::rename(temp.c_str(), link.c_str()), 0);
}

TEST(PortPresence, AnotherDevicePluggedInBetweenTwoLooksHasAnotherIdentity) {
    TempDir dir;
    const std::string a = dir.File("pts-a");
    const std::string b = dir.File("pts-b");
    std::ofstream(a).put('a');
    std::ofstream(b).put('b');
    const std::string socket = dir.File("socket0");
    EXPECT_EQ(PORT_PRESENCE_Identity(socket), "");
    Point(socket, a);
    const std::string first = PORT_PRESENCE_Identity(socket);
    ASSERT_NE(first, "");
    EXPECT_EQ(PORT_PRESENCE_Identity(socket), first) << "nothing changed";
    Point(socket, b);
    const std::string second = PORT_PRESENCE_Identity(socket);
    EXPECT_NE(second, first);
    Point(socket, a);  // the same node again, through a link made again
    EXPECT_NE(PORT_PRESENCE_Identity(socket), first);
    EXPECT_NE(PORT_PRESENCE_Identity(socket), second);
    ::unlink(socket.c_str());
    EXPECT_EQ(PORT_PRESENCE_Identity(socket), "");
}

TEST(PortIdentity, TheSerialNumberIsTheLastPartOfTheDevicesIdBeforeItsInterface) {
    EXPECT_EQ(PORT_IDENTITY_SerialFromByIdName("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"),
              "A50285BI");
    EXPECT_EQ(PORT_IDENTITY_SerialFromByIdName("usb-Pelor_Simulated_Handset_S1-0007-if00"),
              "S1-0007");
    EXPECT_EQ(PORT_IDENTITY_SerialFromByIdName("pci-0000:00:14.0-usb-0:2:1.0"), "");
    EXPECT_EQ(PORT_IDENTITY_SerialFromByIdName("ttyUSB0"), "");
}

TEST(PortIdentity, TheSerialNumberIsReadFromTheByIdNameLeadingToTheSameDevice) {
    TempDir dir;
    const std::string a = dir.File("pts-a");
    const std::string b = dir.File("pts-b");
    std::ofstream(a).put('a');
    std::ofstream(b).put('b');
    fs::create_directory(dir.File("by-id"));
    Point(dir.File("by-id/usb-Pelor_Simulated_Handset_S9-0001-if00"), a);
    Point(dir.File("socket0"), a);
    Point(dir.File("socket1"), b);
    EXPECT_EQ(PORT_IDENTITY_SerialNumber(dir.File("socket0")), "S9-0001");
    EXPECT_EQ(PORT_IDENTITY_SerialNumber(dir.File("socket1")), "") << "no name leads there";
    EXPECT_EQ(PORT_IDENTITY_SerialNumber(dir.File("socket2")), "") << "nothing plugged in";
    EXPECT_EQ(PORT_IDENTITY_SerialNumber("loop:socket0"), "");
}

}  // namespace
#endif
