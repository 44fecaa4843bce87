#pragma once

#include <atomic>
#include <chrono>
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

} // namespace korv::test
