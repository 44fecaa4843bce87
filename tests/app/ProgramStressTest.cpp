#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <random>

#include "app/UpdateController.h"
#include "support/Application.h"
#include "support/ScriptedDevice.h"
#include "support/FastReplyTimers.h"
#include "support/Watchdog.h"
#include "update/ThreadReplyTimer.h"

namespace korv {
namespace {

using namespace std::chrono_literals;

// The whole program against a device that answers wrongly, falls silent or
// splits its replies, with the window closed at random moments, also while a
// received text is being handled: every round must end, none may stall.
TEST(ProgramStress, UpdatesEndOrAreClosedWithoutStalling)
{
    test::application();

    test::Watchdog watchdog(600s);
    const ReplyTimerFactory fastTimers = test::fastReplyTimers(2ms);
    std::mt19937 random(20261210);
    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE(round);
        delivery::reset();
        test::Pty pty;
        test::TempDir ports;
        ports.link("COM5", pty.slavePath());

        enum { Wrong, Silent, Split, CloseMidway } fault = static_cast<decltype(fault)>(round % 4);
        devsim::DeviceOptions options;
        const int block = static_cast<int>(random() % 12);
        if (fault == Wrong)
            options.wrongCrcAt = block;
        if (fault == Silent)
            options.silentAt = block;
        if (fault == Split)
            options.splitReplies = true;
        test::ScriptedDevice device(pty, options);

        auto controller = std::make_unique<UpdateController>(UpdateController::Parts{
            PortMap::fromDirectory(ports.path()), fastTimers, ImageStore::loadEmbedded()});
        controller->startUp();
        MainWindow& w = controller->window();
        auto* box = static_cast<QComboBox*>(w.portList().widget());
        box->setFocus();
        QTest::keyClick(box, Qt::Key_Down);
        auto* write = static_cast<QPushButton*>(w.writeButton().widget());
        auto* status = static_cast<QLineEdit*>(w.statusField().widget());
        const QString noDevice = QString::fromUtf8("На этом порту устройств не найдено.");
        // The last step of either end display.
        const auto endShown = [&] {
            return w.errorIcon().widget()->isVisibleTo(&w) || w.successMessage().widget()->isVisibleTo(&w);
        };
        // A split identity reply may be rejected piece by piece, or accepted on
        // its first piece, its rest then reaching the transfer and ending the round.
        ASSERT_TRUE(test::serveUntil([&] { return write->isEnabled() || endShown() || status->text() == noDevice; },
                                     30s));
        if (write->isEnabled())
            QTest::mouseClick(write, Qt::LeftButton);

        if (fault == CloseMidway) {
            test::serveUntil([] { return false; }, std::chrono::milliseconds(random() % 40));
        } else if (status->text() != noDevice) {
            EXPECT_TRUE(test::serveUntil(endShown, 120s));
        }
        if (fault == Wrong || fault == Silent) {
            EXPECT_TRUE(w.errorMessage().widget()->isVisibleTo(&w));
        }
        w.closeOp()(TData());  // as the OK button does, also while the transfer runs
        EXPECT_FALSE(w.isVisible());
        controller.reset();
    }
    delivery::reset();
}

} // namespace
} // namespace korv
