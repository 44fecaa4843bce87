#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QEventLoop>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "app/UpdateController.h"
#include "devsim/DeviceModel.h"
#include "support/Pty.h"
#include "update/ThreadReplyTimer.h"

namespace korv {
namespace {

using namespace std::chrono_literals;

// The device at the far end of a pseudo-terminal, answering as the emulator's
// model does, on a thread of its own.
class ScriptedDevice {
public:
    explicit ScriptedDevice(test::Pty& pty) : pty_(pty), thread_([this] { run(); }) {}
    ~ScriptedDevice()
    {
        stop_ = true;
        thread_.join();
    }

    std::vector<devsim::Event> events() const
    {
        std::lock_guard lock(mutex_);
        return events_;
    }
    std::string image() const
    {
        std::lock_guard lock(mutex_);
        return model_.image();
    }

private:
    void run()
    {
        while (!stop_) {
            const std::string bytes = pty_.receiveAny(50ms);
            if (bytes.empty())
                continue;
            std::lock_guard lock(mutex_);
            const devsim::Output out = model_.feed(bytes);
            events_.insert(events_.end(), out.events.begin(), out.events.end());
            for (const std::string& w : out.writes)
                pty_.send(w);
        }
    }

    test::Pty& pty_;
    mutable std::mutex mutex_;
    devsim::DeviceModel model_;
    std::vector<devsim::Event> events_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Runs the window thread's event loop until ready() holds; unlike a wait that
// sleeps between rounds, requests from other threads are served at once.
bool serveUntil(const std::function<bool()>& ready, std::chrono::milliseconds limit)
{
    QTimer heartbeat;  // looks at ready() even when no event comes
    heartbeat.start(20);
    QEventLoop loop;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!ready()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        loop.processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

TEST(EndToEnd, AWholeUpdateThroughTheWindowEndsInTheSuccessDisplay)
{
    static int argc = 1;
    static char name[] = "end_to_end";
    static char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
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

    ScriptedDevice device(pty);
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
    ASSERT_TRUE(serveUntil([&] { return write->isEnabled(); }, 30s));

    QTest::mouseClick(write, Qt::LeftButton);
    ASSERT_TRUE(serveUntil([&] { return w.successMessage().widget()->isVisibleTo(&w); }, 180s));
    EXPECT_TRUE(w.okButton().widget()->isVisibleTo(&w));
    EXPECT_FALSE(w.errorMessage().widget()->isVisibleTo(&w));
    EXPECT_TRUE(w.isEnabled());

    ASSERT_TRUE(serveUntil([&] {
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
