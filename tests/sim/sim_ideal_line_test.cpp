// The ideal station's line, worked by hand: two sockets, three handsets, 10 s a job, the
// operator leaving a handset 1 s after GO and taking 2 s a swap.
#include "sim/sim_ideal_line.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;

SimIdealOptions Small(bool batch, bool restart) {
    SimIdealOptions o;
    o.sockets = 2;
    o.handsets = 3;
    o.flash = 10s;
    o.leaveAfter = 1s;
    o.swap.a = 2s;  // fixed
    o.batch = batch;
    o.restart = restart;
    return o;
}

}  // namespace

TEST(SimIdealLine, TwoSocketsThreeHandsetsAsWorkedByHand) {
    struct Case {
        const char* what;
        bool batch;
        bool restart;
        std::vector<double> finishes;
        double perHour;
    };
    for (const Case& c : {
             // Both start at 0 and take GO at 10; socket 0 out at 11, the third handset in at
             // 13 and started at once: GO at 23.
             Case{"production", false, false, {10, 10, 23}, 3 * 3600.0 / 23},
             // Socket 0 out at 11 and the third in at 13, socket 1 out at 13 and left empty
             // at 15; Download then: GO at 25.
             Case{"batch", true, false, {10, 10, 25}, 3 * 3600.0 / 25},
             // Both restart at 10 and are back at 12; out at 13, the third in at 15: GO at 25.
             Case{"production, restarts", false, true, {10, 10, 25}, 3 * 3600.0 / 25},
         }) {
        SCOPED_TRACE(c.what);
        const SimIdealResult r = SIM_IdealLine(Small(c.batch, c.restart));
        ASSERT_EQ(r.finishes.size(), c.finishes.size());
        for (std::size_t i = 0; i < c.finishes.size(); ++i) {
            EXPECT_NEAR(r.finishes[i], c.finishes[i], 0.0011) << i;
        }
        EXPECT_NEAR(r.PerHour(), c.perHour, 0.2);
    }
}
