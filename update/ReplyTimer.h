#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace korv {

// A periodic timer whose ticks arrive on a thread of its own. A tick that
// comes due while the previous one is still being handled is dropped.
class ReplyTimer {
public:
    using Tick = std::function<void()>;
    virtual ~ReplyTimer() = default;  // stops the timer and waits for its thread

    // Starts ticking; while already running it keeps its current phase.
    virtual void start() = 0;
    // Stops ticking. Never waits for a tick being handled, so it may be
    // called from inside a tick or by a thread that a tick waits for.
    virtual void stop() = 0;
    virtual bool isRunning() const = 0;
};

using ReplyTimerFactory =
    std::function<std::unique_ptr<ReplyTimer>(std::chrono::milliseconds period, ReplyTimer::Tick onTick)>;

} // namespace korv
