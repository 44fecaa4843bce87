#include "update/ThreadReplyTimer.h"

#include <system_error>

namespace korv {

ThreadReplyTimer::ThreadReplyTimer(std::chrono::milliseconds period, Tick onTick)
    : period_(period), onTick_(std::move(onTick)), thread_([this] { run(); })
{
}

ThreadReplyTimer::~ThreadReplyTimer()
{
    {
        std::lock_guard lock(mutex_);
        running_ = false;
        quit_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void ThreadReplyTimer::start()
{
    {
        std::lock_guard lock(mutex_);
        if (running_)
            return;
        running_ = true;
        next_ = Clock::now() + period_;
    }
    changed_.notify_all();
}

void ThreadReplyTimer::stop()
{
    {
        std::lock_guard lock(mutex_);
        running_ = false;
    }
    changed_.notify_all();
}

bool ThreadReplyTimer::isRunning() const
{
    std::lock_guard lock(mutex_);
    return running_;
}

void ThreadReplyTimer::run()
{
    std::unique_lock lock(mutex_);
    while (!quit_) {
        if (!running_) {
            changed_.wait(lock, [this] { return quit_ || running_; });
            continue;
        }
        const Clock::time_point due = next_;
        // Woken early by a stop, a restart with a new phase, or the end.
        if (changed_.wait_until(lock, due, [&] { return quit_ || !running_ || next_ != due; }))
            continue;
        next_ = due + period_;
        lock.unlock();
        try {
            onTick_();
        } catch (...) {
            // A failing tick must not end the timer thread or the program.
        }
        lock.lock();
        if (running_) {
            const Clock::time_point now = Clock::now();
            while (next_ <= now)
                next_ += period_;
        }
    }
}

ReplyTimerFactory threadReplyTimers()
{
    return [](std::chrono::milliseconds period, ReplyTimer::Tick onTick) -> std::unique_ptr<ReplyTimer> {
        try {
            return std::make_unique<ThreadReplyTimer>(period, std::move(onTick));
        } catch (const std::system_error&) {
            return nullptr;
        }
    };
}

} // namespace korv
