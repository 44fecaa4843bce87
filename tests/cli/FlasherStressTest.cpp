// The flasher's threads under load: whole updates, a device that answers
// wrongly, falls silent (with ticks every few milliseconds), splits its
// replies, hangs up or declares the update finished early, and interrupts
// from another thread at random moments.
// Every round must end, and no round may report an update the device did
// not get.

#include <gtest/gtest.h>

#include <random>

#include "cli/Flasher.h"
#include "support/ScriptedDevice.h"
#include "support/FastReplyTimers.h"
#include "support/Watchdog.h"
#include "update/ThreadReplyTimer.h"

namespace korv::cli {
namespace {

using namespace std::chrono_literals;

TEST(FlasherStress, EveryRoundEndsAndOnlyACompleteUpdateCountsAsOne)
{
    test::Watchdog watchdog(600s);
    const ReplyTimerFactory fastTimers = test::fastReplyTimers(2ms);
    std::mt19937 random(20261210);
    for (int round = 0; round < 49; ++round) {
        SCOPED_TRACE(round);
        delivery::reset();
        test::Pty pty;
        test::TempDir ports;
        ports.link("COM5", pty.slavePath());

        enum { None, Wrong, Silent, Split, HangUp, Interrupted, Early } fault =
            static_cast<decltype(fault)>(round % 7);
        devsim::DeviceOptions options;
        const int block = static_cast<int>(random() % 12);
        if (fault == Wrong)
            options.wrongCrcAt = block;
        if (fault == Silent)
            options.silentAt = block;
        if (fault == Split)
            options.splitReplies = true;
        if (fault == HangUp)
            options.hangupAt = block;
        if (fault == Early)
            options.finishAt = block;
        test::ScriptedDevice device(pty, options);

        const bool waitsForSilence = fault == Silent || fault == HangUp;
        Flasher flasher({PortMap::fromDirectory(ports.path()), waitsForSilence ? fastTimers : threadReplyTimers(),
                         ImageStore::loadEmbedded()});
        std::thread interrupter;
        if (fault == Interrupted) {
            const auto after = std::chrono::microseconds(random() % 100000);
            interrupter = std::thread([&flasher, after] {
                std::this_thread::sleep_for(after);
                flasher.interrupt();
            });
        }
        Outcome outcome = flasher.identify("COM5", 5s);
        if (outcome == Outcome::Identified)
            outcome = flasher.write([](const Progress&) {}, 1ms);
        else
            flasher.close();
        if (interrupter.joinable())
            interrupter.join();

        if (outcome == Outcome::Updated) {
            const auto events = device.events();
            EXPECT_TRUE(std::any_of(events.begin(), events.end(),
                                    [](const devsim::Event& e) { return e.kind == devsim::EventKind::Finished; }));
            EXPECT_EQ(device.image().size(), 130048u);
        }
        if (fault == None)
            EXPECT_EQ(outcome, Outcome::Updated);
        if (fault == Wrong || fault == Silent || fault == HangUp)
            EXPECT_NE(outcome, Outcome::Updated);
        if (fault == Early) {
            EXPECT_EQ(outcome, Outcome::FinishedEarly);
            EXPECT_EQ(flasher.progress().blocks, block + 1);
            const auto events = device.events();
            EXPECT_FALSE(std::any_of(events.begin(), events.end(),
                                     [](const devsim::Event& e) { return e.kind == devsim::EventKind::Started; }));
        }
    }
    delivery::reset();
}

} // namespace
} // namespace korv::cli
