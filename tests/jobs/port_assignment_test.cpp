// The port assignment rules that the window's selectors, its automatic assignment and the
// command line's -p share.
#include "jobs/port_assignment.h"

#include <gtest/gtest.h>

#include "transport/port_table.h"

namespace {

TEST(PortAssignment, APortChosenTwiceLeavesTheLaterChannelWithoutOne) {
    ChannelPorts ports{};
    EXPECT_EQ(PORTS_Choose(ports, 0, 5), 5);
    EXPECT_EQ(PORTS_Choose(ports, 3, 7), 7);
    EXPECT_EQ(PORTS_Choose(ports, 1, 5), 0);  // channel 0 has it
    EXPECT_EQ(ports, (ChannelPorts{5, 0, 0, 7, 0, 0, 0, 0}));
    // Choosing a channel's own port again counts as taken too: the channel is left without.
    EXPECT_EQ(PORTS_Choose(ports, 3, 7), 0);
    EXPECT_EQ(ports[3], 0);
    EXPECT_EQ(PORTS_Choose(ports, 9, 2), 0);  // no such channel: nothing changes
    EXPECT_EQ(ports, (ChannelPorts{5, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(PortAssignment, AnArrivalKeepsTheFirstHolderOrTakesTheFirstFreeChannel) {
    ChannelPorts ports{0, 4, 0, 4, 9, 0, 4, 0};
    std::array<bool, kChannels> cleared{};
    EXPECT_EQ(PORTS_Arrive(ports, 4, &cleared), 1);
    EXPECT_EQ(ports, (ChannelPorts{0, 4, 0, 0, 9, 0, 0, 0}));
    EXPECT_EQ(cleared,
              (std::array<bool, kChannels>{false, false, false, true, false, false, true, false}));
    EXPECT_EQ(PORTS_Arrive(ports, 6, &cleared), 0);
    EXPECT_EQ(PORTS_Arrive(ports, 8), 2);
    EXPECT_EQ(ports, (ChannelPorts{6, 4, 8, 0, 9, 0, 0, 0}));
    EXPECT_EQ(PORTS_ChannelOf(ports, 9), 4);
    EXPECT_EQ(PORTS_ChannelOf(ports, 3), -1);
    EXPECT_EQ(PORTS_Arrive(ports, 0, &cleared), -1);
}

TEST(PortAssignment, AnArrivalWithEveryChannelTakenChangesNothing) {
    ChannelPorts ports{1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(PORTS_Arrive(ports, 20), -1);
    EXPECT_EQ(ports, (ChannelPorts{1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST(PortAssignment, NamesResolveThroughThePortTable) {
    PORTTABLE_Clear();
    std::string device, error;
    const int n = PORTS_Resolve("/dev/pelor-assign-a", &device, &error);
    ASSERT_GT(n, 0) << error;
    EXPECT_EQ(device, "/dev/pelor-assign-a");
    EXPECT_EQ(PORTS_Resolve("/dev/pelor-assign-a", nullptr, nullptr), n);  // kept
    EXPECT_EQ(PORTS_Resolve("com" + std::to_string(n), &device, &error), n);
    EXPECT_EQ(device, "/dev/pelor-assign-a");
    // COM names outside the table, and texts that only look like one, are refused or taken as
    // device names.
    EXPECT_EQ(PORTS_Resolve("COM99999999999999999999", &device, &error), 0);
    EXPECT_EQ(error, "COM99999999999999999999 is not in the port table (see `pelor ports`)");
    EXPECT_EQ(PORTS_Resolve("COM0", &device, &error), 0);
    EXPECT_GT(PORTS_Resolve("COM3x", &device, &error), 0);
    EXPECT_EQ(device, "COM3x");
}

}  // namespace
