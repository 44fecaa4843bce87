#pragma once

#include <chrono>
#include <memory>

#include "update/ThreadReplyTimer.h"

namespace korv::test {

// The real reply timers, ticking every period instead of every second, so
// that a silent device is given up on within milliseconds.
inline ReplyTimerFactory fastReplyTimers(std::chrono::milliseconds period)
{
    return [period](std::chrono::milliseconds, ReplyTimer::Tick tick) {
        return std::unique_ptr<ReplyTimer>(std::make_unique<ThreadReplyTimer>(period, std::move(tick)));
    };
}

} // namespace korv::test
