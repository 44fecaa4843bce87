#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "update/ReplyTimer.h"

namespace korv {

// The reply timer on a thread of its own, scheduled on the steady clock.
// Ticks are due at start + n * period; one handled late makes the ones that
// came due meanwhile drop, so ticks never queue up.
class ThreadReplyTimer : public ReplyTimer {
public:
    ThreadReplyTimer(std::chrono::milliseconds period, Tick onTick);
    ~ThreadReplyTimer() override;

    void start() override;
    void stop() override;
    bool isRunning() const override;

private:
    using Clock = std::chrono::steady_clock;

    void run();

    const std::chrono::milliseconds period_;
    const Tick onTick_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool running_ = false;
    bool quit_ = false;
    Clock::time_point next_;
    std::thread thread_;  // last: starts after everything it uses exists
};

// Makes the real reply timers; an empty pointer when the system refuses the
// thread, and the transfer then runs without a timeout.
ReplyTimerFactory threadReplyTimers();

} // namespace korv
