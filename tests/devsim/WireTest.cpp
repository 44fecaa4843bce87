#include "devsim/Wire.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace korv::devsim {
namespace {

using namespace std::chrono_literals;
using Clock = Wire::Clock;
using Times = std::vector<Clock::time_point>;

// Any point will do; the wire only compares and adds.
const Clock::time_point t0 = Clock::time_point{} + 1000s;

TEST(Wire, AByteTakesTenBitsAt38462BitsPerSecond) {
    EXPECT_NEAR(std::chrono::duration<double>(Wire::time(1)).count(), 10.0 / 38462, 1e-9);
    EXPECT_NEAR(std::chrono::duration<double>(Wire::time(130048)).count(), 130048 * 10.0 / 38462,
                1e-9);
    EXPECT_EQ(Wire::time(0), Clock::duration::zero());
}

TEST(Wire, BytesArriveOneAfterAnotherFromWhenTheyWereRead) {
    Wire wire;
    EXPECT_EQ(wire.receive(t0, 3), (Times{t0 + Wire::time(1), t0 + Wire::time(2), t0 + Wire::time(3)}));
}

TEST(Wire, BytesReadWhileTheLineIsBusyFollowTheOnesBefore) {
    Wire wire;
    const Clock::time_point firstDone = wire.receive(t0, 256).back();
    EXPECT_EQ(wire.receive(t0 + 1ms, 2), (Times{firstDone + Wire::time(1), firstDone + Wire::time(2)}));
}

TEST(Wire, AProgramSlowToSendIsNotHidden) {
    Wire wire;
    wire.receive(t0, 256);
    EXPECT_EQ(wire.receive(t0 + 1s, 1), Times{t0 + 1s + Wire::time(1)});
}

TEST(Wire, AReplyReachesTheProgramAfterItsOwnLineTime) {
    Wire wire;
    EXPECT_EQ(wire.transmit(t0, {"ab"}, 20ms), Times{t0 + Wire::time(2)});
}

TEST(Wire, RepliesWaitForTheLineAndPiecesForTheirPause) {
    Wire wire;
    const Times pieces = wire.transmit(t0, {"KORVA", "NTEMIS KV-12 8.6"}, 20ms);
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_EQ(pieces[0], t0 + Wire::time(5));
    EXPECT_EQ(pieces[1], pieces[0] + 20ms + Wire::time(16));
    EXPECT_EQ(wire.transmit(t0 + 1ms, {"ab"}, 20ms), Times{pieces[1] + Wire::time(2)});
    EXPECT_EQ(wire.transmit(t0 + 1s, {"ab"}, 20ms), Times{t0 + 1s + Wire::time(2)});
}

TEST(Wire, BothDirectionsRunAtOnce) {
    Wire sending;
    sending.transmit(t0, {std::string(1000, 'x')}, 20ms);
    EXPECT_EQ(sending.receive(t0, 1), Times{t0 + Wire::time(1)});

    Wire receiving;
    receiving.receive(t0, 1000);
    EXPECT_EQ(receiving.transmit(t0 + 1ms, {"ab"}, 20ms), Times{t0 + 1ms + Wire::time(2)});
}

} // namespace
} // namespace korv::devsim
