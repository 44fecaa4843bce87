#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "support/Watchdog.h"
#include "ui/WindowDispatcher.h"

namespace korv {
namespace {

using namespace std::chrono_literals;

// What a requester has put off is done on its own thread before it waits,
// so it comes before the request; the window thread's own calls skip it.
TEST(WindowDispatcher, ARequesterDoesWhatItPutOffBeforeItWaits)
{
    WindowDispatcher dispatcher;
    std::vector<std::string> order;  // written in turn: the requester, then the window thread
    std::atomic<int> hooks{0};
    std::thread::id hookThread;
    dispatcher.setBeforeRequesterWaits([&] {
        hookThread = std::this_thread::get_id();
        order.push_back("put off");
        ++hooks;
    });
    dispatcher.call([&] { order.push_back("window"); });
    EXPECT_EQ(hooks.load(), 0);

    std::atomic<bool> done{false};
    std::thread::id requester;
    std::thread worker([&] {
        requester = std::this_thread::get_id();
        dispatcher.call([&] { order.push_back("request"); });
        done = true;
        dispatcher.wake();
    });
    test::Watchdog watchdog(60s);
    dispatcher.waitUntil([&] { return done.load(); });
    worker.join();
    EXPECT_EQ(hookThread, requester);
    EXPECT_EQ(order, (std::vector<std::string>{"window", "put off", "request"}));
}

TEST(WindowDispatcher, RunsOnTheWindowThreadInlineAndElsewhereInRequestOrder)
{
    WindowDispatcher dispatcher;
    const auto window = std::this_thread::get_id();
    bool inline_ran = false;
    dispatcher.call([&] { inline_ran = std::this_thread::get_id() == window; });
    EXPECT_TRUE(inline_ran);

    std::vector<int> order;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        for (int i = 0; i < 100; ++i) {
            const auto record = [&, i] {
                EXPECT_EQ(std::this_thread::get_id(), window);
                order.push_back(i);
            };
            if (i % 3 == 0)
                dispatcher.post(record);  // queued like the others, but not waited for
            else
                dispatcher.call(record);
        }
        dispatcher.call([&] { done = true; });
    });
    test::Watchdog watchdog(60s);
    dispatcher.waitUntil([&] { return done.load(); });
    worker.join();
    ASSERT_EQ(order.size(), 100u);
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(order[static_cast<std::size_t>(i)], i);
}

// A wait with a deadline serves requests like any other wait, ends as soon as
// its condition holds, and gives up at the deadline when it never does.
TEST(WindowDispatcher, WaitWithADeadlineServesRequestsAndGivesUp)
{
    WindowDispatcher dispatcher;
    test::Watchdog watchdog(60s);
    std::atomic<bool> served{false};
    std::thread worker([&] { dispatcher.call([&] { served = true; }); });
    EXPECT_TRUE(dispatcher.waitUntil([&] { return served.load(); }, std::chrono::steady_clock::now() + 30s));
    worker.join();

    const auto deadline = std::chrono::steady_clock::now() + 50ms;
    EXPECT_FALSE(dispatcher.waitUntil([] { return false; }, deadline));
    EXPECT_GE(std::chrono::steady_clock::now(), deadline);
}

// A worker floods the window with requests while the window thread waits for
// that worker: the wait serves the requests, so it ends.
TEST(WindowDispatcherStress, WindowWaitingOnAFloodingWorkerIsServed)
{
    WindowDispatcher dispatcher;
    test::Watchdog watchdog(120s);
    long applied = 0;  // touched only on the window thread
    std::mutex turn;
    for (int round = 0; round < 200; ++round) {
        std::atomic<bool> finished{false};
        std::thread worker([&] {
            // Held while waiting on the window, like a transfer's turn; its
            // release wakes the window thread if that waits for it.
            WindowSafeLock hold(dispatcher, turn);
            for (int i = 0; i < 50; ++i)
                dispatcher.call([&] { ++applied; });
            finished = true;
            dispatcher.wake();
        });
        if (round % 2 == 0) {
            WindowSafeLock lock(dispatcher, turn);  // must not deadlock with the worker
        }
        dispatcher.waitUntil([&] { return finished.load(); });
        worker.join();
    }
    EXPECT_EQ(applied, 200L * 50L);
}

TEST(WindowDispatcher, ShutDownLetsWaitingRequestersGoWithoutRunning)
{
    WindowDispatcher dispatcher;
    std::atomic<bool> ran{false};
    auto requester = std::async(std::launch::async, [&] { dispatcher.call([&] { ran = true; }); });
    // The requester is queued (or about to be); nobody on the window thread serves it.
    std::this_thread::sleep_for(20ms);
    dispatcher.shutDown();
    EXPECT_EQ(requester.wait_for(30s), std::future_status::ready);
    dispatcher.call([&] { ran = true; });
    std::thread([&] { dispatcher.call([&] { ran = true; }); }).join();
    EXPECT_FALSE(ran.load());
}

} // namespace
} // namespace korv
