#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <utility>

#include "update/ReplyTimer.h"

namespace korv::testing {

// A reply timer that ticks only when the test says so, on the test's thread.
class ManualReplyTimer : public ReplyTimer {
public:
    ManualReplyTimer(Tick onTick, std::function<void(const char*)> observe)
        : onTick_(std::move(onTick)), observe_(std::move(observe))
    {
    }

    void start() override
    {
        running_ = true;
        observe_("timer start");
    }
    void stop() override
    {
        running_ = false;
        observe_("timer stop");
    }
    bool isRunning() const override { return running_; }

    // Delivers one tick if the timer is running.
    void tick()
    {
        if (running_)
            onTick_();
    }

private:
    Tick onTick_;
    std::function<void(const char*)> observe_;
    bool running_ = false;
};

// Hands out manual timers and keeps the last one (and its period) for the test.
struct ManualTimers {
    ManualReplyTimer* timer = nullptr;
    std::chrono::milliseconds period{0};
    std::function<void(const char*)> observe = [](const char*) {};

    ReplyTimerFactory factory()
    {
        return [this](std::chrono::milliseconds p, ReplyTimer::Tick onTick) {
            auto made = std::make_unique<ManualReplyTimer>(std::move(onTick),
                                                           [this](const char* what) { observe(what); });
            timer = made.get();
            period = p;
            return std::unique_ptr<ReplyTimer>(std::move(made));
        };
    }
};

} // namespace korv::testing
