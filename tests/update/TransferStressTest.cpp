// The transfer driven from three threads at once: a fake device on its own
// thread answering each block correctly, wrongly or not at all, the real
// reply timer ticking fast, and the test's main thread as the window thread
// starting transfers while the transfer's events wait on it. Run under
// ThreadSanitizer; a watchdog fails the test on a stall.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "CrcReference.h"
#include "update/ThreadReplyTimer.h"
#include "update/Transfer.h"

using namespace std::chrono_literals;
using korv::TData;
using korv::testing::acknowledgement;
using korv::testing::finishedReply;
using korv::testing::modbusCrc;

namespace {

constexpr std::size_t kImageSize = 130048;
constexpr std::size_t kBlock = 256;
// Past the end of the image, so blocks of zeros are sent as well.
constexpr int kTargetBlocks = 600;
constexpr auto kTickPeriod = 2ms;
constexpr auto kStallLimit = 60s;

std::vector<std::uint8_t> stressImage()
{
    std::vector<std::uint8_t> bytes(kImageSize);
    std::mt19937 rng(7);
    for (auto& b : bytes)
        b = static_cast<std::uint8_t>(rng());
    return bytes;
}

// What the device has been sent; written from whichever thread sends.
struct Wire {
    std::mutex mutex;
    std::condition_variable arrived;
    std::string pending;     // not yet taken by the device
    std::string imageBytes;  // every single-byte write, in order
    int pusks = 0;
    bool quit = false;
};

// The check-value field as a thread-safe text store.
struct Field {
    mutable std::mutex mutex;
    std::string text = "FFFF";
    TData get() const
    {
        std::lock_guard lock(mutex);
        return TData(text);
    }
    void set(const TData& v)
    {
        std::lock_guard lock(mutex);
        text = v.toText();
    }
};

// Counted on the window thread only, inside dispatcher requests.
struct WindowCounts {
    int progress = 0;
    int finished = 0;
    int rejected = 0;
    int timeouts = 0;
    std::int32_t lastProgress = 0;
    bool progressInOrder = true;
    int stalls() const { return finished + timeouts; }
};

TEST(TransferStress, DeviceAnswersFallsSilentAndSendsGarbageWhileTicksFire)
{
    korv::delivery::switchOn();
    const std::vector<std::uint8_t> image = stressImage();
    korv::WindowDispatcher dispatcher;
    Wire wire;
    Field field;
    WindowCounts window;

    const korv::ReplyTimerFactory fastTimers = [](std::chrono::milliseconds,
                                                  korv::ReplyTimer::Tick onTick) {
        return korv::threadReplyTimers()(std::chrono::duration_cast<std::chrono::milliseconds>(kTickPeriod),
                                         std::move(onTick));
    };
    auto transfer = std::make_unique<korv::Transfer>(dispatcher, korv::ImageStore(image), fastTimers);
    transfer->dataInput(0).connect([&] { return field.get(); });
    transfer->event(4).connect([&](TData v) { field.set(v); });
    transfer->event(1).connect([&](TData v) {
        const std::string text = v.toText();
        std::lock_guard lock(wire.mutex);
        wire.pending += text;
        if (text.size() == 1)
            wire.imageBytes += text;
        else
            ++wire.pusks;
        wire.arrived.notify_all();
    });
    transfer->event(0).connect([&](TData v) {
        dispatcher.call([&] {
            ++window.progress;
            const std::int32_t expected = window.lastProgress == 507 ? 0 : window.lastProgress + 1;
            window.progressInOrder = window.progressInOrder && v.toInt() == expected;
            window.lastProgress = v.toInt();
        });
    });
    transfer->event(2).connect([&](TData) { dispatcher.call([&] { ++window.finished; }); });
    transfer->event(3).connect([&](TData v) {
        const bool timeout = v == TData(std::int32_t{3});
        dispatcher.call([&] { ++(timeout ? window.timeouts : window.rejected); });
    });

    std::atomic<int> deviceBlocks{0};
    std::atomic<int> replies{0};
    std::atomic<int> silences{0};
    std::atomic<bool> deviceDone{false};
    std::atomic<bool> finishedRun{false};
    std::string deviceReceived;  // device thread only until it is joined

    std::thread device([&] {
        std::mt19937 rng(2024);
        std::uint16_t crc = 0xFFFF;
        int pusksSeen = 0;
        bool lastAcked = true;
        for (;;) {
            std::string block;
            {
                // The stream holds whole blocks and "PUSK"s, never interleaved.
                std::unique_lock lock(wire.mutex);
                for (;;) {
                    if (pusksSeen < wire.pusks && wire.pending.starts_with("PUSK")) {
                        wire.pending.erase(0, 4);
                        ++pusksSeen;
                    } else if (wire.quit || wire.pending.size() >= kBlock) {
                        break;
                    } else {
                        wire.arrived.wait(lock);
                    }
                }
                if (wire.quit)
                    break;
                block = wire.pending.substr(0, kBlock);
                wire.pending.erase(0, kBlock);
            }
            deviceReceived += block;
            crc = modbusCrc(block, crc);
            // A silence right after a timeout would wait out the 101-tick
            // repeat, so only an acknowledged block may be followed by trouble.
            const unsigned roll = lastAcked ? rng() % 100 : 0;
            lastAcked = roll < 70;
            std::string reply;
            if (roll < 70) {
                reply = acknowledgement(crc);
            } else if (roll < 82) {
                ++silences;
            } else if (roll < 90) {
                reply.resize(1 + rng() % 6);
                for (char& c : reply)
                    c = static_cast<char>(rng());
            } else if (roll < 95) {
                const std::string ack = acknowledgement(crc);
                transfer->onInput(0, TData(ack.substr(0, 1)));
                ++replies;
                reply = ack.substr(1);
            } else {
                reply = finishedReply(crc);
            }
            if (!reply.empty()) {
                transfer->onInput(0, TData(reply));
                ++replies;
            }
            ++deviceBlocks;
            dispatcher.wake();
        }
        deviceDone = true;
        dispatcher.wake();
    });

    std::thread watchdog([&] {
        int seen = -1;
        auto lastChange = std::chrono::steady_clock::now();
        while (!finishedRun) {
            std::this_thread::sleep_for(50ms);
            const int now = deviceBlocks.load() + replies.load();
            if (now != seen) {
                seen = now;
                lastChange = std::chrono::steady_clock::now();
            } else if (std::chrono::steady_clock::now() - lastChange > kStallLimit) {
                // NOLINTNEXTLINE(cert-err33-c): nowhere to report
                std::fprintf(stderr, "stress test stalled after %d device blocks\n", deviceBlocks.load());
                std::fflush(stderr);  // NOLINT(cert-err33-c): nowhere to report
                std::_Exit(2);
            }
        }
    });

    int starts = 0;
    int seenStalls = 0;
    int nextExtraStart = 37;
    transfer->onInput(1, TData(std::int32_t{0}));
    ++starts;
    for (;;) {
        dispatcher.waitUntil([&] {
            return deviceBlocks.load() >= kTargetBlocks || window.stalls() != seenStalls ||
                   window.progress >= nextExtraStart;
        });
        if (deviceBlocks.load() >= kTargetBlocks)
            break;
        if (window.stalls() != seenStalls)
            seenStalls = window.stalls();
        else
            nextExtraStart += 37;  // a start while a reply is on its way
        transfer->onInput(1, TData(std::int32_t{0}));
        ++starts;
    }

    {
        std::lock_guard lock(wire.mutex);
        wire.quit = true;
        wire.arrived.notify_all();
    }
    dispatcher.waitUntil([&] { return deviceDone.load(); });
    device.join();
    transfer.reset();
    finishedRun = true;
    watchdog.join();

    // Every byte sent is the image in order, then zeros past its end.
    std::string expected(image.begin(), image.end());
    expected.resize(wire.imageBytes.size(), '\0');
    EXPECT_EQ(wire.imageBytes.size(), static_cast<std::size_t>(starts + window.progress) * kBlock);
    EXPECT_TRUE(wire.imageBytes == expected);
    EXPECT_EQ(wire.imageBytes.compare(0, deviceReceived.size(), deviceReceived), 0);
    // The field holds the check value over every byte sent.
    EXPECT_EQ(field.get(), TData(korv::valueText(modbusCrc(wire.imageBytes))));
    // Each received text got exactly one verdict.
    EXPECT_EQ(window.progress + window.finished + window.rejected, replies.load());
    EXPECT_EQ(wire.pusks, window.finished);
    EXPECT_TRUE(window.progressInOrder);
    EXPECT_GT(window.progress, 0);
    EXPECT_GT(window.finished, 0);
    EXPECT_GT(window.rejected, 0);
    EXPECT_GT(silences.load(), 0);
    EXPECT_GT(window.timeouts, 0);
}

} // namespace
