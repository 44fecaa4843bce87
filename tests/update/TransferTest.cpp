#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "CrcReference.h"
#include "ManualReplyTimer.h"
#include "update/Transfer.h"

using korv::TData;
using korv::Transfer;
using korv::testing::acknowledgement;
using korv::testing::finishedReply;
using korv::testing::modbusCrc;

namespace {

constexpr std::size_t kImageSize = 130048;
constexpr std::size_t kBlock = 256;

std::vector<std::uint8_t> testImage()
{
    // xorshift32: no short repeats, so a skipped or doubled byte shows.
    std::vector<std::uint8_t> bytes(kImageSize);
    std::uint32_t s = 0x2545F491u;
    for (auto& b : bytes) {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        b = static_cast<std::uint8_t>(s >> 24);
    }
    return bytes;
}

// One outward event, or the timer being started or stopped (event -1).
struct Fired {
    int event;
    TData value;
    std::size_t written;  // bytes written to the device when it fired
};

class TransferTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        korv::delivery::switchOn();
        timers.observe = [this](const char* what) { log.push_back({-1, TData(what), wire.size()}); };
        transfer = std::make_unique<Transfer>(dispatcher, korv::ImageStore(image), timers.factory());
        transfer->dataInput(0).connect([this] { return TData(field); });
        for (int k = 0; k < 6; ++k)
            transfer->event(k).connect([this, k](TData v) {
                const std::string text = v.toText();
                switch (k) {
                case 1:
                    // Image bytes are seen in the wire; only "PUSK" is logged.
                    wire += text;
                    if (text.size() != 1)
                        log.push_back({k, std::move(v), wire.size()});
                    break;
                case 4: field = text; break;
                default: log.push_back({k, std::move(v), wire.size()}); break;
                }
            });
    }

    std::string imageBytes(std::size_t from, std::size_t count) const
    {
        return std::string(image.begin() + static_cast<std::ptrdiff_t>(from),
                           image.begin() + static_cast<std::ptrdiff_t>(from + count));
    }
    std::string deviceAck() const { return acknowledgement(modbusCrc(wire)); }
    std::string deviceFinished() const { return finishedReply(modbusCrc(wire)); }

    void receive(const std::string& text) { transfer->onInput(0, TData(text)); }
    void start() { transfer->onInput(1, TData(std::int32_t{0})); }
    void ticks(int n)
    {
        for (int i = 0; i < n; ++i)
            timers.timer->tick();
    }
    std::vector<Fired> firedSince(std::size_t from) const
    {
        return {log.begin() + static_cast<std::ptrdiff_t>(from), log.end()};
    }
    int countTimeouts() const
    {
        int n = 0;
        for (const Fired& f : log)
            n += f.event == 3 && f.value == TData(std::int32_t{3});
        return n;
    }

    const std::vector<std::uint8_t> image = testImage();
    korv::WindowDispatcher dispatcher;
    korv::testing::ManualTimers timers;
    std::string field = "FFFF";
    std::string wire;
    std::vector<Fired> log;
    std::unique_ptr<Transfer> transfer;
};

TEST_F(TransferTest, TimerIsMadeWithA1000MsPeriodAndStaysStoppedUntilStart)
{
    EXPECT_EQ(timers.period, std::chrono::milliseconds(1000));
    ASSERT_NE(timers.timer, nullptr);
    EXPECT_FALSE(timers.timer->isRunning());
    EXPECT_TRUE(wire.empty());
}

TEST_F(TransferTest, StartSendsBlockZeroRawThenStartsTheTimer)
{
    start();
    EXPECT_EQ(wire, imageBytes(0, kBlock));
    EXPECT_EQ(field, korv::valueText(modbusCrc(wire)));
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].event, -1);
    EXPECT_EQ(log[0].value, TData("timer start"));
    EXPECT_EQ(log[0].written, kBlock);
}

TEST_F(TransferTest, TextBeforeStartIsRejectedWithItsRendering)
{
    receive("SZ");
    receive("FZ");
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0].event, 3);
    EXPECT_EQ(log[0].value, TData("535A"));
    EXPECT_EQ(log[1].event, 5);
    EXPECT_EQ(log[1].value, TData("SZ"));
    EXPECT_EQ(log[2].value, TData("465A"));
    EXPECT_TRUE(wire.empty());
}

TEST_F(TransferTest, AcknowledgementFiresProgressBeforeTheNextBlock)
{
    start();
    const std::size_t mark = log.size();
    receive(deviceAck());
    const std::vector<Fired> fired = firedSince(mark);
    ASSERT_EQ(fired.size(), 2u);
    EXPECT_EQ(fired[0].event, 0);
    EXPECT_EQ(fired[0].value, TData(std::int32_t{1}));
    EXPECT_EQ(fired[0].written, kBlock);
    EXPECT_EQ(fired[1].event, 5);
    EXPECT_EQ(fired[1].written, 2 * kBlock);
    EXPECT_EQ(wire, imageBytes(0, 2 * kBlock));
}

TEST_F(TransferTest, FinishedReplyWritesPuskReportsStopsTheTimerThenPassesTheText)
{
    start();
    receive(deviceAck());
    const std::string reply = deviceFinished();
    const std::size_t mark = log.size();
    receive(reply);
    const std::vector<Fired> fired = firedSince(mark);
    ASSERT_EQ(fired.size(), 4u);
    EXPECT_EQ(fired[0].event, 1);
    EXPECT_EQ(fired[0].value, TData("PUSK"));
    EXPECT_EQ(fired[1].event, 2);
    EXPECT_EQ(fired[1].value, TData(korv::hexRendering(reply)));
    EXPECT_EQ(fired[2].event, -1);
    EXPECT_EQ(fired[2].value, TData("timer stop"));
    EXPECT_EQ(fired[3].event, 5);
    EXPECT_EQ(fired[3].value, TData(reply));
    EXPECT_EQ(wire, imageBytes(0, 2 * kBlock) + "PUSK");
    EXPECT_FALSE(timers.timer->isRunning());
}

TEST_F(TransferTest, RejectedReplyReportsThenPassesTheTextAndClearsTheSilence)
{
    start();
    ticks(2);
    const std::size_t mark = log.size();
    receive("\x01\x02\x03");
    const std::vector<Fired> fired = firedSince(mark);
    ASSERT_EQ(fired.size(), 2u);
    EXPECT_EQ(fired[0].event, 3);
    EXPECT_EQ(fired[0].value, TData("010203"));
    EXPECT_EQ(fired[1].event, 5);
    EXPECT_EQ(fired[1].value, TData("\x01\x02\x03"));
    ticks(2);
    EXPECT_EQ(countTimeouts(), 0);
    ticks(1);
    EXPECT_EQ(countTimeouts(), 1);
    EXPECT_EQ(wire.size(), kBlock);
}

TEST_F(TransferTest, RejectionThenCorrectAcknowledgementContinues)
{
    start();
    const std::string ack = deviceAck();
    receive("garbage");
    receive(ack);
    EXPECT_EQ(wire, imageBytes(0, 2 * kBlock));
    EXPECT_EQ(log.back().event, 5);
    EXPECT_EQ(log[log.size() - 2].value, TData(std::int32_t{1}));
}

TEST_F(TransferTest, TimeoutAtTheThirdTickAndAgain101TicksLater)
{
    start();
    std::vector<int> timeoutTicks;
    for (int t = 1; t <= 210; ++t) {
        const std::size_t mark = log.size();
        ticks(1);
        for (const Fired& f : firedSince(mark)) {
            EXPECT_EQ(f.event, 3);
            EXPECT_EQ(f.value, TData(std::int32_t{3}));
            timeoutTicks.push_back(t);
        }
    }
    EXPECT_EQ(timeoutTicks, (std::vector<int>{3, 104, 205}));
    EXPECT_TRUE(timers.timer->isRunning());
}

TEST_F(TransferTest, AReceivedTextRestartsTheSilenceCount)
{
    start();
    ticks(2);
    receive(deviceAck());
    ticks(2);
    EXPECT_EQ(countTimeouts(), 0);
    ticks(1);
    EXPECT_EQ(countTimeouts(), 1);
}

TEST_F(TransferTest, TicksAfterTheFinishedReplyCountNothing)
{
    start();
    receive(deviceFinished());
    transfer->tick();
    transfer->tick();
    transfer->tick();
    EXPECT_EQ(countTimeouts(), 0);
}

TEST_F(TransferTest, SecondStartSendsTheNext256BytesAndTheExpectedTextsFollow)
{
    start();
    start();
    EXPECT_EQ(wire, imageBytes(0, 2 * kBlock));
    EXPECT_EQ(field, korv::valueText(modbusCrc(wire)));
    const std::string staleAck = acknowledgement(modbusCrc(imageBytes(0, kBlock)));
    receive(staleAck);
    EXPECT_EQ(log[log.size() - 2].event, 3);
    receive(deviceAck());
    EXPECT_EQ(log[log.size() - 2].value, TData(std::int32_t{1}));
    EXPECT_EQ(wire, imageBytes(0, 3 * kBlock));
}

TEST_F(TransferTest, StartAfterFinishedSendsTheNextBlockAndRestartsTheTimer)
{
    start();
    receive(deviceFinished());
    start();
    EXPECT_EQ(wire, imageBytes(0, kBlock) + "PUSK" + imageBytes(kBlock, kBlock));
    EXPECT_TRUE(timers.timer->isRunning());
    ticks(3);
    EXPECT_EQ(countTimeouts(), 1);
}

TEST_F(TransferTest, WholeImageEndsWithPuskAndProgressAt507)
{
    start();
    std::vector<std::int32_t> progress;
    for (int block = 1; block < 508; ++block)
        receive(deviceAck());
    receive(deviceFinished());
    for (const Fired& f : log)
        if (f.event == 0)
            progress.push_back(f.value.toInt());
    ASSERT_EQ(progress.size(), 507u);
    for (std::size_t i = 0; i < progress.size(); ++i)
        ASSERT_EQ(progress[i], static_cast<std::int32_t>(i + 1));
    EXPECT_EQ(wire, std::string(image.begin(), image.end()) + "PUSK");
    EXPECT_EQ(log.back().event, 5);
    EXPECT_EQ(log[log.size() - 3].event, 2);
}

TEST_F(TransferTest, AcknowledgementPastBlock507WrapsToZeroAndSendsZeros)
{
    start();
    for (int block = 1; block < 508; ++block)
        receive(deviceAck());
    ASSERT_EQ(wire.size(), kImageSize);
    const std::size_t mark = log.size();
    receive(deviceAck());
    const std::vector<Fired> fired = firedSince(mark);
    ASSERT_EQ(fired.size(), 2u);
    EXPECT_EQ(fired[0].event, 0);
    EXPECT_EQ(fired[0].value, TData(std::int32_t{0}));
    EXPECT_EQ(wire.substr(kImageSize), std::string(kBlock, '\0'));
    receive(deviceAck());
    EXPECT_EQ(log[log.size() - 2].value, TData(std::int32_t{1}));
}

TEST_F(TransferTest, FinishedReplySplitIntoValueAndFzIsAnAcknowledgementThenARejection)
{
    start();
    receive(deviceAck());
    const std::string reply = deviceFinished();
    const std::size_t mark = log.size();
    receive(reply.substr(0, 2));
    receive(reply.substr(2));
    const std::vector<Fired> fired = firedSince(mark);
    ASSERT_EQ(fired.size(), 4u);
    EXPECT_EQ(fired[0].event, 0);
    EXPECT_EQ(fired[0].value, TData(std::int32_t{2}));
    EXPECT_EQ(fired[1].event, 5);
    EXPECT_EQ(fired[2].event, 3);
    EXPECT_EQ(fired[2].value, TData("465A"));
    EXPECT_EQ(fired[3].event, 5);
    EXPECT_EQ(wire, imageBytes(0, 3 * kBlock));
}

TEST_F(TransferTest, AcknowledgementSplitIntoSingleBytesIsTwoRejections)
{
    start();
    const std::string ack = deviceAck();
    receive(ack.substr(0, 1));
    receive(ack.substr(1));
    int rejections = 0;
    for (const Fired& f : log)
        rejections += f.event == 3;
    EXPECT_EQ(rejections, 2);
    EXPECT_EQ(wire.size(), kBlock);
}

TEST_F(TransferTest, PerByteStepIsOneWriteThenOneCheckValueUpdate)
{
    std::vector<std::string> steps;
    transfer->dataInput(0).connect([&] {
        steps.push_back("read");
        return TData(field);
    });
    transfer->event(1).connect([&](TData v) {
        steps.push_back("write");
        wire += v.toText();
    });
    transfer->event(4).connect([&](TData v) {
        steps.push_back("store");
        field = v.toText();
    });
    start();
    ASSERT_EQ(steps.size(), 4 * kBlock);
    for (std::size_t i = 0; i < steps.size(); i += 4)
        ASSERT_EQ((std::vector<std::string>(steps.begin() + static_cast<std::ptrdiff_t>(i),
                                            steps.begin() + static_cast<std::ptrdiff_t>(i + 4))),
                  (std::vector<std::string>{"write", "read", "store", "read"}))
            << "byte " << i / 4;
}

TEST(TransferWithoutTimer, RunsWithoutATimeoutWhenNoTimerCouldBeMade)
{
    korv::delivery::switchOn();
    korv::WindowDispatcher dispatcher;
    Transfer transfer(dispatcher, korv::ImageStore(std::vector<std::uint8_t>(kImageSize, 0x5A)),
                      [](std::chrono::milliseconds, korv::ReplyTimer::Tick) { return nullptr; });
    std::string wire;
    transfer.event(1).connect([&](TData v) { wire += v.toText(); });
    transfer.onInput(1, TData(std::int32_t{0}));
    EXPECT_EQ(wire, std::string(kBlock, 'Z'));
}

} // namespace
