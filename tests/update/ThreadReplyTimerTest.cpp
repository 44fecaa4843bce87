#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "update/ThreadReplyTimer.h"

using namespace std::chrono_literals;
using korv::ThreadReplyTimer;
using Clock = std::chrono::steady_clock;

namespace {

// Generous: these tests wait for ticks but never judge how fast they come.
constexpr auto kBound = 20s;

// Counts ticks and lets the test wait for them.
struct TickLog {
    std::mutex mutex;
    std::condition_variable cv;
    std::vector<Clock::time_point> times;
    std::vector<std::thread::id> threads;

    void record()
    {
        std::lock_guard lock(mutex);
        times.push_back(Clock::now());
        threads.push_back(std::this_thread::get_id());
        cv.notify_all();
    }
    bool waitFor(std::size_t n)
    {
        std::unique_lock lock(mutex);
        return cv.wait_for(lock, kBound, [&] { return times.size() >= n; });
    }
    std::size_t count()
    {
        std::lock_guard lock(mutex);
        return times.size();
    }
};

TEST(ThreadReplyTimer, TicksOnItsOwnThreadOnlyAfterStart)
{
    TickLog log;
    ThreadReplyTimer timer(5ms, [&] { log.record(); });
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(log.count(), 0u);
    EXPECT_FALSE(timer.isRunning());
    timer.start();
    EXPECT_TRUE(timer.isRunning());
    ASSERT_TRUE(log.waitFor(3));
    std::lock_guard lock(log.mutex);
    for (std::thread::id id : log.threads)
        EXPECT_NE(id, std::this_thread::get_id());
}

TEST(ThreadReplyTimer, StopFromInsideATickEndsTheTicks)
{
    TickLog log;
    ThreadReplyTimer* self = nullptr;
    ThreadReplyTimer timer(5ms, [&] {
        self->stop();
        log.record();
    });
    self = &timer;
    timer.start();
    ASSERT_TRUE(log.waitFor(1));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(log.count(), 1u);
    EXPECT_FALSE(timer.isRunning());
}

TEST(ThreadReplyTimer, StopNeverWaitsForATickBeingHandled)
{
    std::promise<void> entered;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<int> ticks{0};
    ThreadReplyTimer timer(5ms, [&] {
        if (ticks.fetch_add(1) == 0) {
            entered.set_value();
            released.wait();
        }
    });
    timer.start();
    ASSERT_EQ(entered.get_future().wait_for(kBound), std::future_status::ready);
    // The tick waits for this thread; a stop that waited for the tick would hang.
    auto stopped = std::async(std::launch::async, [&] { timer.stop(); });
    const bool returned = stopped.wait_for(kBound) == std::future_status::ready;
    release.set_value();
    ASSERT_TRUE(returned);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(ticks.load(), 1);
}

TEST(ThreadReplyTimer, StartWhileRunningKeepsThePhase)
{
    TickLog log;
    ThreadReplyTimer timer(50ms, [&] { log.record(); });
    timer.start();
    // Restarting the phase on every start would keep the first tick away.
    const auto until = Clock::now() + kBound;
    while (log.count() == 0 && Clock::now() < until) {
        timer.start();
        std::this_thread::sleep_for(2ms);
    }
    EXPECT_GE(log.count(), 1u);
}

TEST(ThreadReplyTimer, TicksThatCameDueDuringASlowTickAreDropped)
{
    TickLog log;
    std::atomic<bool> first{true};
    Clock::time_point slowEnd{};
    ThreadReplyTimer timer(10ms, [&] {
        if (first.exchange(false)) {
            std::this_thread::sleep_for(300ms);  // about 30 periods
            slowEnd = Clock::now();
        }
        log.record();
    });
    timer.start();
    ASSERT_TRUE(log.waitFor(4));
    std::lock_guard lock(log.mutex);
    // Queued ticks would come in a burst right after the slow one.
    int burst = 0;
    for (std::size_t i = 1; i < log.times.size(); ++i)
        burst += log.times[i] < slowEnd + 5ms;
    EXPECT_LE(burst, 1);
}

TEST(ThreadReplyTimer, RestartAfterStopTicksAgain)
{
    TickLog log;
    ThreadReplyTimer timer(5ms, [&] { log.record(); });
    timer.start();
    ASSERT_TRUE(log.waitFor(1));
    timer.stop();
    const std::size_t seen = log.count();
    timer.start();
    ASSERT_TRUE(log.waitFor(seen + 2));
}

TEST(ThreadReplyTimer, DestructionWhileRunningEndsTicks)
{
    TickLog log;
    {
        ThreadReplyTimer timer(2ms, [&] { log.record(); });
        timer.start();
        ASSERT_TRUE(log.waitFor(2));
    }
    const std::size_t after = log.count();
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(log.count(), after);
}

TEST(ThreadReplyTimer, FactoryMakesRunningCapableTimers)
{
    TickLog log;
    auto timer = korv::threadReplyTimers()(5ms, [&] { log.record(); });
    ASSERT_NE(timer, nullptr);
    timer->start();
    EXPECT_TRUE(log.waitFor(1));
}

} // namespace
