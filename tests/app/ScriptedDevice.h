#pragma once

#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "devsim/DeviceModel.h"
#include "support/Pty.h"

namespace korv::test {

using namespace std::chrono_literals;

// The device at the far end of a pseudo-terminal, answering as the emulator's
// model does, on a thread of its own.
class ScriptedDevice {
public:
    ScriptedDevice(Pty& pty, devsim::DeviceOptions options = {})
        : pty_(pty), model_(std::move(options)), thread_([this] { run(); })
    {
    }
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

    Pty& pty_;
    mutable std::mutex mutex_;
    devsim::DeviceModel model_;
    std::vector<devsim::Event> events_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Runs the window thread's event loop until ready() holds; unlike a wait that
// sleeps between rounds, requests from other threads are served at once.
inline bool serveUntil(const std::function<bool()>& ready, std::chrono::milliseconds limit)
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

} // namespace korv::test
