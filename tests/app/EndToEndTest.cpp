#include <gtest/gtest.h>

#include <QComboBox>
#include <QCryptographicHash>
#include <QPushButton>
#include <QTest>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "app/UpdateController.h"
#include "support/Application.h"
#include "support/Process.h"
#include "support/ScriptedDevice.h"
#include "update/ThreadReplyTimer.h"

namespace korv {
namespace {

using namespace std::chrono_literals;

// Chooses the only port, from the keyboard, waits for the device to
// be identified and presses the write button: true once the success display is up.
bool updateThroughTheControls(MainWindow& w, const QString& port)
{
    auto* box = static_cast<QComboBox*>(w.portList().widget());
    EXPECT_EQ(box->count(), 1);
    EXPECT_EQ(box->itemText(0), port);
    box->setFocus();
    QTest::keyClick(box, Qt::Key_Down);
    auto* write = static_cast<QPushButton*>(w.writeButton().widget());
    if (!test::serveUntil([&] { return write->isEnabled(); }, 30s))
        return false;
    QTest::mouseClick(write, Qt::LeftButton);
    return test::serveUntil([&] { return w.successMessage().widget()->isVisibleTo(&w); }, 180s);
}

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
    ASSERT_TRUE(updateThroughTheControls(w, QStringLiteral("COM7")));
    EXPECT_TRUE(w.okButton().widget()->isVisibleTo(&w));
    EXPECT_FALSE(w.errorMessage().widget()->isVisibleTo(&w));
    EXPECT_TRUE(w.acceptsInput());

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

// The same through the emulator program, as the demo runs it: the device
// reports the image it received, and its SHA-256 is the embedded image's.
TEST(EndToEnd, AWholeUpdateAgainstTheEmulatorProgramEndsInTheSuccessDisplay)
{
    test::application();
    delivery::reset();

    test::TempDir dir;
    const std::string report = dir.path() + "/report.json";
    test::Process emulator(KORV_DEVSIM_PROGRAM, {"--report", report});
    std::string portMap;
    for (int i = 0; i < 3; ++i) {
        const auto line = emulator.readLine(20s);
        ASSERT_TRUE(line) << emulator.err();
        if (line->starts_with("port-map "))
            portMap = line->substr(9);
    }
    ASSERT_FALSE(portMap.empty());

    auto controller = std::make_unique<UpdateController>(UpdateController::Parts{
        PortMap::fromDirectory(portMap), threadReplyTimers(), ImageStore::loadEmbedded()});
    controller->startUp();
    MainWindow& w = controller->window();
    ASSERT_TRUE(updateThroughTheControls(w, QStringLiteral("COM1")));
    EXPECT_FALSE(w.errorMessage().widget()->isVisibleTo(&w));

    QTest::mouseClick(static_cast<QPushButton*>(w.okButton().widget()), Qt::LeftButton);
    controller.reset();
    emulator.signal(SIGTERM);
    ASSERT_EQ(emulator.wait(20s), 0) << emulator.err();

    ImageStore image = ImageStore::loadEmbedded();
    QByteArray bytes;
    for (std::size_t i = 0; i < image.size(); ++i)
        bytes.append(static_cast<char>(image.readNext()));
    const std::string sha256 = QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex().toStdString();
    std::ifstream file(report);
    const std::string json((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_NE(json.find("\"bytes\":130048,\"blocks\":508,\"sha256\":\"" + sha256 + "\",\"pusk\":true"),
              std::string::npos)
        << json;
    delivery::reset();
}

} // namespace
} // namespace korv
