#include "ui/WindowDispatcher.h"

namespace korv {

WindowDispatcher::WindowDispatcher(std::function<void()> wakeOwner)
    : owner_(std::this_thread::get_id()), wakeOwner_(std::move(wakeOwner))
{
}

WindowDispatcher::~WindowDispatcher()
{
    shutDown();
}

void WindowDispatcher::call(const std::function<void()>& fn)
{
    if (onWindowThread()) {
        bool down;
        {
            std::lock_guard lock(mutex_);
            down = shutDown_;
        }
        if (!down)
            fn();
        return;
    }
    if (beforeRequesterWaits_)
        beforeRequesterWaits_();
    Request request{&fn};
    {
        std::unique_lock lock(mutex_);
        if (shutDown_)
            return;
        queue_.push_back({&request, {}});
        ownerCv_.notify_all();
    }
    if (wakeOwner_)
        wakeOwner_();
    std::unique_lock lock(mutex_);
    requesterCv_.wait(lock, [&] { return request.done; });
}

void WindowDispatcher::post(std::function<void()> fn)
{
    {
        std::lock_guard lock(mutex_);
        if (shutDown_)
            return;
        queue_.push_back({nullptr, std::move(fn)});
        ownerCv_.notify_all();
    }
    if (wakeOwner_)
        wakeOwner_();
}

void WindowDispatcher::runPending()
{
    std::unique_lock lock(mutex_);
    while (!queue_.empty()) {
        Queued next = std::move(queue_.front());
        queue_.pop_front();
        const bool run = !shutDown_;
        lock.unlock();
        if (run) {
            if (next.waiting != nullptr)
                (*next.waiting->fn)();
            else
                next.posted();
        }
        lock.lock();
        if (next.waiting != nullptr) {
            next.waiting->done = true;
            requesterCv_.notify_all();
        }
    }
}

void WindowDispatcher::waitUntil(const std::function<bool()>& ready)
{
    waitUntil(ready, nullptr);
}

bool WindowDispatcher::waitUntil(const std::function<bool()>& ready,
                                 std::chrono::steady_clock::time_point deadline)
{
    return waitUntil(ready, &deadline);
}

bool WindowDispatcher::waitUntil(const std::function<bool()>& ready,
                                 const std::chrono::steady_clock::time_point* deadline)
{
    for (;;) {
        runPending();
        std::unique_lock lock(mutex_);
        const unsigned long seen = wakes_;
        lock.unlock();
        if (ready())
            return true;
        lock.lock();
        // Sleep only if nothing was queued and nobody woke us since ready() was looked at.
        const auto woken = [&] { return !queue_.empty() || wakes_ != seen; };
        if (deadline == nullptr) {
            ownerCv_.wait(lock, woken);
        } else if (!ownerCv_.wait_until(lock, *deadline, woken)) {
            lock.unlock();
            runPending();
            return ready();
        }
    }
}

void WindowDispatcher::wake()
{
    std::lock_guard lock(mutex_);
    ++wakes_;
    ownerCv_.notify_all();
}

void WindowDispatcher::shutDown()
{
    std::lock_guard lock(mutex_);
    shutDown_ = true;
    for (Queued& queued : queue_) {
        if (queued.waiting != nullptr)
            queued.waiting->done = true;
    }
    queue_.clear();
    ++wakes_;
    requesterCv_.notify_all();
    ownerCv_.notify_all();
}

WindowSafeLock::WindowSafeLock(WindowDispatcher& dispatcher, std::mutex& mutex)
    : dispatcher_(dispatcher), mutex_(mutex)
{
    if (dispatcher_.onWindowThread())
        dispatcher_.waitUntil([this] { return mutex_.try_lock(); });
    else
        mutex_.lock();
}

WindowSafeLock::~WindowSafeLock()
{
    mutex_.unlock();
    dispatcher_.wake();
}

} // namespace korv
