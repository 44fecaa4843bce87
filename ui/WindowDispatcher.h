#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace korv {

// The one path by which other threads change the window. A request from
// another thread is queued, the window thread is woken, and the requester
// waits until its request has run: requests run in the order they were made.
//
// The window thread never blocks on a thread that may be waiting for it:
// whenever it must wait for another thread it does so through waitUntil(),
// which keeps running the queued requests, so a requester that holds what the
// window thread waits for is served and can let go of it.
class WindowDispatcher {
public:
    // Constructed on the window thread; wakeOwner is called from any thread
    // when a request has been queued and must make the window thread call
    // runPending() soon (for Qt: a queued call into the event loop).
    explicit WindowDispatcher(std::function<void()> wakeOwner = {});
    ~WindowDispatcher();
    WindowDispatcher(const WindowDispatcher&) = delete;
    WindowDispatcher& operator=(const WindowDispatcher&) = delete;

    bool onWindowThread() const { return std::this_thread::get_id() == owner_; }

    // Runs fn on the window thread and returns when it has run. Once shut
    // down, returns at once without running fn.
    void call(const std::function<void()>& fn);

    // Set before other threads make requests: runs on a requesting thread
    // right before it waits for the window thread, so that what the thread
    // has put off doing (writes it gathers) is done before the window shows
    // anything that follows from it.
    void setBeforeRequesterWaits(std::function<void()> hook) { beforeRequesterWaits_ = std::move(hook); }

    // Any thread: queues fn to run on the window thread without waiting for it.
    void post(std::function<void()> fn);

    // Window thread only: runs every request queued so far.
    void runPending();

    // Window thread only: waits until ready() holds, running queued requests
    // meanwhile. ready() is evaluated under no lock of the dispatcher's; a
    // thread that changes what it looks at calls wake() afterwards.
    void waitUntil(const std::function<bool()>& ready);
    // The same, giving up at deadline; returns whether ready() held.
    bool waitUntil(const std::function<bool()>& ready, std::chrono::steady_clock::time_point deadline);

    // Any thread: something a waitUntil() may be looking at has changed.
    void wake();

    // From now on requests complete at once without running; the ones queued
    // complete too, so no requester is left waiting.
    void shutDown();

private:
    bool waitUntil(const std::function<bool()>& ready,
                   const std::chrono::steady_clock::time_point* deadline);

    // A waiting requester's request lives on its stack; a posted one only in the queue.
    struct Request {
        const std::function<void()>* fn = nullptr;
        bool done = false;
    };
    struct Queued {
        Request* waiting;               // null for a posted request
        std::function<void()> posted;
    };

    const std::thread::id owner_;
    std::function<void()> wakeOwner_;
    std::function<void()> beforeRequesterWaits_;
    std::mutex mutex_;
    std::condition_variable ownerCv_;      // window thread: a request or a wake()
    std::condition_variable requesterCv_;  // requesters: a request is done
    std::deque<Queued> queue_;
    bool shutDown_ = false;
    unsigned long wakes_ = 0;
};

// Locks a mutex that the window thread may need while another thread holds
// it and waits on the window: on the window thread the lock is taken through
// waitUntil(), elsewhere plainly. The unlock wakes a waiting window thread.
class WindowSafeLock {
public:
    WindowSafeLock(WindowDispatcher& dispatcher, std::mutex& mutex);
    ~WindowSafeLock();
    WindowSafeLock(const WindowSafeLock&) = delete;
    WindowSafeLock& operator=(const WindowSafeLock&) = delete;

private:
    WindowDispatcher& dispatcher_;
    std::mutex& mutex_;
};

} // namespace korv
