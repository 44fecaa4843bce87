#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <thread>

#include "link/Delivery.h"
#include "serial/Recorder.h"
#include "serial/SerialPortChannel.h"
#include "support/Pty.h"
#include "ui/WindowDispatcher.h"

namespace korv {
namespace {

using namespace std::chrono_literals;

constexpr int kCycles = 300;
constexpr auto kStallLimit = 60s;

// Fails the whole run if the test stops making progress: a deadlock would
// otherwise just hang.
class Watchdog {
public:
    explicit Watchdog(const std::atomic<int>& progress)
        : thread_([this, &progress] {
              int last = progress.load();
              auto since = std::chrono::steady_clock::now();
              while (!done_) {
                  std::this_thread::sleep_for(100ms);
                  if (progress.load() != last) {
                      last = progress.load();
                      since = std::chrono::steady_clock::now();
                  } else if (std::chrono::steady_clock::now() - since > kStallLimit) {
                      // NOLINTNEXTLINE(cert-err33-c): nowhere to report
                      std::fprintf(stderr, "stalled at cycle %d\n", last);
                      std::abort();
                  }
              }
          })
    {
    }
    ~Watchdog()
    {
        done_ = true;
        thread_.join();
    }

private:
    std::atomic<bool> done_{false};
    std::thread thread_;
};

// What the far end saw, as tokens "O<n>;" (the window thread's mark that
// session n is open), "R<n>;" (written by a reader of session n) and "W;"
// (a worker's write, to whichever session is open).
struct FarEnd {
    std::atomic<int> lastOpenMark{0};
    int markOutOfOrder = 0;
    int readerWritesAfterItsClose = 0;  // R<n> after O<m>, m > n
    int readerWrites = 0;
    int brokenTokens = 0;

    void take(char c)
    {
        if (c == 'O' || c == 'R' || c == 'W') {
            if (inToken_)
                ++brokenTokens;
            inToken_ = true;
            kind_ = c;
            number_ = 0;
        } else if (inToken_ && c >= '0' && c <= '9') {
            number_ = number_ * 10 + (c - '0');
        } else if (inToken_ && c == ';') {
            inToken_ = false;
            if (kind_ == 'O') {
                if (number_ != lastOpenMark.load() + 1)
                    ++markOutOfOrder;
                lastOpenMark = number_;
            } else if (kind_ == 'R') {
                ++readerWrites;
                if (number_ < lastOpenMark.load())
                    ++readerWritesAfterItsClose;
            }
        } else {
            ++brokenTokens;
            inToken_ = false;
        }
    }

private:
    bool inToken_ = false;
    char kind_ = 0;
    int number_ = 0;
};

// The device floods the port while the window thread closes and reopens it
// again and again, a worker writes, and every received text makes a window
// request before it writes: so a reader is often waiting on the window thread
// just when that thread closes its port.
TEST(SerialStress, ReopenUnderFloodWithReadersWaitingOnTheWindow)
{
    test::DeliveryOn delivery;
    test::TempDir dir;
    test::Pty pty;
    ASSERT_TRUE(pty.isOpen());
    dir.link("COM3", pty.slavePath());

    WindowDispatcher window;
    auto channel = std::make_unique<SerialPortChannel>(PortMap::fromDirectory(dir.path()));
    // Readers may still be finishing a text while the channel is destroyed:
    // they reach it through this, not through the pointer being reset.
    SerialPortChannel& port = *channel;
    std::atomic<int> generation{0};      // the session being opened, or open
    std::atomic<int> readerReached{0};   // the latest session whose reader has had a text
    std::atomic<long> windowRequests{0};
    std::vector<int> results;  // window thread only
    port.portName.connect([] { return TData("COM3"); });
    port.openResult.connect([&](TData v) { results.push_back(v.toInt()); });
    port.receivedText.connect([&](TData) {
        thread_local int session = 0;  // a reader thread serves one session
        if (session == 0)
            session = generation.load();
        readerReached = session;
        window.call([&] { ++windowRequests; });
        port.write(TData("R" + std::to_string(session) + ";"));
    });

    FarEnd farEnd;
    std::atomic<bool> stopDrain{false};
    std::thread drain([&] {
        while (!stopDrain) {
            for (char c : pty.receiveAny(50ms))
                farEnd.take(c);
            window.wake();
        }
    });

    std::atomic<int> progress{0};
    Watchdog watchdog(progress);
    std::atomic<bool> stop{false};
    std::thread flood;
    std::thread worker;
    for (int g = 1; g <= kCycles; ++g) {
        generation = g;
        port.open();
        if (g == 1) {
            // The line is raw from the first opening on: nothing sent to it
            // is echoed back.
            flood = std::thread([&] {
                while (!stop)
                    pty.send("the quick brown fox jumps over the lazy dog 0123456789\n", 20ms);
            });
            worker = std::thread([&] {
                while (!stop) {
                    port.write(TData("W;"));
                    std::this_thread::sleep_for(200us);
                }
            });
        }
        port.write(TData("O" + std::to_string(g) + ";"));
        window.waitUntil([&] { return farEnd.lastOpenMark >= g && readerReached >= g; });
        port.close();
        progress = g;
    }
    stop = true;
    flood.join();
    worker.join();

    delivery::switchOffForGood();
    window.shutDown();
    channel.reset();
    stopDrain = true;
    drain.join();

    EXPECT_EQ(results, std::vector<int>(kCycles, 3));
    EXPECT_EQ(farEnd.lastOpenMark, kCycles);
    EXPECT_EQ(farEnd.markOutOfOrder, 0);
    EXPECT_EQ(farEnd.readerWritesAfterItsClose, 0);
    EXPECT_GT(farEnd.readerWrites, 0);
    EXPECT_GE(windowRequests, kCycles);
    // A close may cut the write it aborts; writes that interleaved would
    // break far more tokens than that.
    EXPECT_LE(farEnd.brokenTokens, kCycles);
}

} // namespace
} // namespace korv
