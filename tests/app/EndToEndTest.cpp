#include <gtest/gtest.h>

#include <QComboBox>
#include <QPushButton>
#include <QTest>
#include <cstdlib>

#include "ScriptedDevice.h"
#include "app/UpdateController.h"
#include "support/Application.h"
#include "update/ThreadReplyTimer.h"

namespace korv {
namespace {

using namespace std::chrono_literals;

TEST(EndToEnd, AWholeUpdateThroughTheWindowEndsInTheSuccessDisplay)
{
    test::application();
    delivery::reset();

    test::TempDir ports;
    test::Pty pty;
    ASSERT_TRUE(pty.isOpen());
    ports.link("COM7", pty.slavePath());
    ::setenv("KORVANTEMIS_PORT_MAP", ports.path().c_str(), 1);

    ImageStore embedded = ImageStore::loadEmbedded();
    std::string expected;
    for (std::size_t i = 0; i < embedded.size(); ++i)
        expected.push_back(static_cast<char>(embedded.readNext()));
    ASSERT_EQ(expected.size(), 130048u);

    test::ScriptedDevice device(pty);
    auto controller = std::make_unique<UpdateController>(
        UpdateController::Parts{PortMap::fromSystem(), threadReplyTimers(), ImageStore::loadEmbedded()});
    controller->startUp();
    MainWindow& w = controller->window();
    auto* box = static_cast<QComboBox*>(w.portList().widget());
    ASSERT_EQ(box->count(), 1);
    EXPECT_EQ(box->itemText(0), QStringLiteral("COM7"));

    box->setFocus();
    QTest::keyClick(box, Qt::Key_Down);  // choose COM7 from the keyboard
    auto* write = static_cast<QPushButton*>(w.writeButton().widget());
    ASSERT_TRUE(test::serveUntil([&] { return write->isEnabled(); }, 30s));

    QTest::mouseClick(write, Qt::LeftButton);
    ASSERT_TRUE(test::serveUntil([&] { return w.successMessage().widget()->isVisibleTo(&w); }, 180s));
    EXPECT_TRUE(w.okButton().widget()->isVisibleTo(&w));
    EXPECT_FALSE(w.errorMessage().widget()->isVisibleTo(&w));
    EXPECT_TRUE(w.isEnabled());

    ASSERT_TRUE(test::serveUntil([&] {
        const auto events = device.events();
        return !events.empty() && events.back().kind == devsim::EventKind::Started;
    }, 10s));
    EXPECT_TRUE(device.image() == expected) << "the device received another image";
    for (const devsim::Event& e : device.events())
        EXPECT_NE(e.kind, devsim::EventKind::Unexpected) << e.bytes.size() << " unexpected bytes";

    QTest::mouseClick(static_cast<QPushButton*>(w.okButton().widget()), Qt::LeftButton);
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(delivery::state(), delivery::State::OffForGood);
    controller.reset();
    ::unsetenv("KORVANTEMIS_PORT_MAP");
    delivery::reset();
}

} // namespace
} // namespace korv
