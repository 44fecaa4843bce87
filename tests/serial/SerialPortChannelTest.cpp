#include <algorithm>
#include <atomic>
#include <ctime>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <thread>

#include "serial/SerialDevice.h"
#include "serial/SerialPortChannel.h"
#include "serial/Recorder.h"
#include "support/Pty.h"
#include "ui/WindowDispatcher.h"

namespace korv {
namespace {

using namespace std::chrono_literals;

// A port map of its own: COM3 and COM5 are pseudo-terminals.
class ChannelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(com3.isOpen() && com5.isOpen());
        dir.link("COM3", com3.slavePath());
        dir.link("COM5", com5.slavePath());
    }

    PortMap map() const { return PortMap::fromDirectory(dir.path()); }

    // Names the port the channel opens next.
    void name(SerialPortChannel& channel, const std::string& portName)
    {
        channel.portName.connect([portName] { return TData(portName); });
    }

    test::DeliveryOn delivery;
    test::TempDir dir;
    test::Pty com3;
    test::Pty com5;
};

struct OpenCase {
    const char* name;
    int result;
};

class ChannelOpen : public ChannelTest, public ::testing::WithParamInterface<OpenCase> {};

// Each name gives its one open result, and the port written to afterwards is
// the one that name stands for, or none.
TEST_P(ChannelOpen, ReportsNumberAndOpensThatPortOnly)
{
    SerialPortChannel channel(map());
    test::Recorder recorder(channel);
    name(channel, GetParam().name);
    channel.open();
    EXPECT_EQ(recorder.results(), std::vector<int>{GetParam().result});

    channel.write(TData("Z"));
    const int result = GetParam().result;
    EXPECT_EQ(com3.receive(1, result == 3 ? 2000ms : 50ms), result == 3 ? "Z" : "");
    EXPECT_EQ(com5.receive(1, result == 5 ? 2000ms : 50ms), result == 5 ? "Z" : "");
}

INSTANTIATE_TEST_SUITE_P(Names, ChannelOpen,
                         ::testing::Values(OpenCase{"COM3", 3}, OpenCase{"com3", 3},
                                           OpenCase{"Com5", 5}, OpenCase{"COM", 0},
                                           OpenCase{"COM0", 0}, OpenCase{"COM256", 0},
                                           OpenCase{"COM1234", 0}, OpenCase{"LPT1", 0},
                                           OpenCase{"", 0}, OpenCase{"COM3X", 0},
                                           OpenCase{"COM03", 0}, OpenCase{"COM7", 0}),
                         [](const auto& info) {
                             const std::string n = info.param.name;
                             return n.empty() ? std::string("empty") : n;
                         });

TEST_F(ChannelTest, LineRunsAtExactly38462Raw8N1)
{
    SerialPortChannel channel(map());
    test::Recorder recorder(channel);
    name(channel, "COM3");
    channel.open();
    ASSERT_EQ(recorder.results(), std::vector<int>{3});

    const auto line = com3.line();
    ASSERT_TRUE(line.has_value());
    EXPECT_TRUE(line->rateGivenExactly);
    EXPECT_EQ(line->outputRate, 38462u);
    EXPECT_EQ(line->inputRate, 38462u);
    EXPECT_EQ(line->dataBits, 8);
    EXPECT_FALSE(line->parity);
    EXPECT_EQ(line->stopBits, 1);
    EXPECT_FALSE(line->hardwareFlowControl);
    EXPECT_FALSE(line->softwareFlowControl);
    EXPECT_TRUE(line->ignoresModemLines);
    EXPECT_TRUE(line->receiverOn);
    EXPECT_TRUE(line->rawInput);
    EXPECT_TRUE(line->rawOutput);
    EXPECT_EQ(line->minChars, 0);
    EXPECT_EQ(line->timeTenths, 0);
}

std::string allByteValues()
{
    std::string bytes;
    for (int b = 0; b < 256; ++b)
        bytes.push_back(static_cast<char>(b));
    return bytes;
}

struct WriteCase {
    const char* what;
    TData (*value)();
    std::string bytes;
};

class ChannelWrite : public ChannelTest, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(ChannelWrite, SendsTheTextByteForByteWithNothingAdded)
{
    SerialPortChannel channel(map());
    test::Recorder recorder(channel);
    name(channel, "COM3");
    channel.open();
    ASSERT_EQ(recorder.results(), std::vector<int>{3});

    channel.write(GetParam().value());
    EXPECT_EQ(com3.receive(GetParam().bytes.size(), 5s), GetParam().bytes);
    EXPECT_EQ(com3.receiveUntilQuiet(100ms), "");
}

INSTANTIATE_TEST_SUITE_P(
    Values, ChannelWrite,
    ::testing::Values(
        WriteCase{"request", [] { return TData("VERS"); }, std::string{0x56, 0x45, 0x52, 0x53}},
        WriteCase{"integer", [] { return TData(std::int32_t{-120}); }, "-120"},
        WriteCase{"controls", [] { return TData(std::string("P\0\r\n\x11\x13", 6)); },
                  std::string("P\0\r\n\x11\x13", 6)},
        WriteCase{"every byte", [] { return TData(allByteValues()); }, allByteValues()}),
    [](const auto& info) {
        std::string n = info.param.what;
        std::replace(n.begin(), n.end(), ' ', '_');
        return n;
    });

TEST_F(ChannelTest, ReceivedTextsCarryEveryByteValueZeroIncluded)
{
    SerialPortChannel channel(map());
    test::Recorder recorder(channel);
    name(channel, "COM3");
    channel.open();
    ASSERT_EQ(recorder.results(), std::vector<int>{3});

    const std::string sent = std::string("A\0B", 3) + allByteValues();
    ASSERT_TRUE(com3.send(sent));
    ASSERT_TRUE(recorder.waitForBytes(sent.size()));
    EXPECT_EQ(recorder.received(), sent);
    EXPECT_TRUE(recorder.allTexts());
}

TEST_F(ChannelTest, OpenWhileOpenDoesNothing)
{
    SerialPortChannel channel(map());
    test::Recorder recorder(channel);
    name(channel, "COM3");
    channel.open();
    name(channel, "COM5");
    channel.open();
    EXPECT_EQ(recorder.results(), std::vector<int>{3});
    EXPECT_EQ(probeSerialDevice(com5.slavePath()), SerialError::None);
    channel.write(TData("still 3"));
    EXPECT_EQ(com3.receive(7, 2s), "still 3");
}

TEST_F(ChannelTest, HeldPortIsRefusedAndFreeAgainRightAfterClose)
{
    SerialPortChannel first(map());
    SerialPortChannel second(map());
    test::Recorder firstResults(first);
    test::Recorder secondResults(second);
    name(first, "COM3");
    name(second, "COM3");

    first.open();
    EXPECT_TRUE(com3.exclusive());
    second.open();
    first.close();
    EXPECT_FALSE(com3.exclusive());
    second.open();
    EXPECT_EQ(firstResults.results(), std::vector<int>{3});
    EXPECT_EQ(secondResults.results(), (std::vector<int>{0, 3}));

    // Held by another program through the lock alone.
    second.close();
    ASSERT_TRUE(com3.lockSlave());
    second.open();
    EXPECT_EQ(secondResults.results(), (std::vector<int>{0, 3, 0}));
}

TEST_F(ChannelTest, NothingIsReportedAfterCloseAndTheSamePortReopensAtOnce)
{
    SerialPortChannel channel(map());
    test::Recorder recorder(channel);
    name(channel, "COM3");
    channel.open();
    ASSERT_TRUE(com3.send("a"));
    ASSERT_TRUE(recorder.waitForBytes(1));
    channel.close();
    const int textsAtClose = recorder.texts();

    for (int i = 0; i < 30; ++i) {
        ASSERT_TRUE(com3.send("b"));
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(recorder.texts(), textsAtClose);
    EXPECT_EQ(recorder.received(), "a");

    channel.open();
    EXPECT_EQ(recorder.results(), (std::vector<int>{3, 3}));
    ASSERT_TRUE(com3.send("c"));
    ASSERT_TRUE(recorder.waitForBytes(2));
    EXPECT_EQ(recorder.received(), "ac");
}

TEST_F(ChannelTest, WritesWhileClosedSendNothing)
{
    SerialPortChannel channel(map());
    test::Recorder recorder(channel);
    name(channel, "COM3");
    channel.write(TData("never opened"));
    channel.close();
    channel.open();
    channel.close();
    channel.write(TData("after close"));
    EXPECT_EQ(com3.receiveUntilQuiet(200ms), "");
    EXPECT_EQ(recorder.results(), std::vector<int>{3});
}

// A drain returns once the written bytes have left the port: with a port
// open it succeeds and the bytes are there; with none there is nothing to drain.
TEST_F(ChannelTest, DrainSucceedsOnlyWithAnOpenPort)
{
    SerialPortChannel channel(map());
    test::Recorder recorder(channel);
    name(channel, "COM3");
    EXPECT_FALSE(channel.drain());
    channel.open();
    ASSERT_EQ(recorder.results(), std::vector<int>{3});
    const std::string last = allByteValues() + "PUSK";
    channel.write(TData(last));
    EXPECT_TRUE(channel.drain());
    EXPECT_EQ(com3.receive(last.size(), 5s), last);
    channel.close();
    EXPECT_FALSE(channel.drain());
}

// Closing right after a write lets the bytes leave first: the last command
// of an update is written just before the window closes the port. On a
// pseudo-terminal a discarded output queue loses such bytes in some closes,
// so the close is repeated until that would have shown.
TEST_F(ChannelTest, BytesWrittenJustBeforeACloseReachTheDevice)
{
    SerialPortChannel channel(map());
    test::Recorder recorder(channel);
    name(channel, "COM3");
    constexpr int kCloses = 300;
    for (int i = 0; i < kCloses; ++i) {
        channel.open();
        channel.write(TData("PUSK"));
        channel.close();
        ASSERT_EQ(com3.receive(4, 2s), "PUSK") << "close " << i + 1;
    }
    EXPECT_EQ(recorder.results(), std::vector<int>(kCloses, 3));
}

bool eventually(const std::function<bool()>& condition)
{
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// Gathered reader writes keep their order among themselves and with the
// writes of other threads, and a drain hands them on even while the reader
// is still handling its text.
TEST_F(ChannelTest, GatheredReaderWritesKeepTheirOrderAndADrainHandsThemOn)
{
    SerialPortChannel channel(map(), SerialPortChannel::ReaderWrites::Gathered);
    test::Recorder recorder(channel);
    std::atomic<bool> drained{false};
    std::atomic<bool> handled{false};
    channel.receivedText.connect([&](TData text) {
        if (text.toText() == "B") {
            for (int i = 0; i < 300; ++i)
                channel.write(TData(std::string(1, static_cast<char>('a' + i % 26))));
        } else {
            channel.write(TData("PUSK"));
            while (!drained)
                std::this_thread::yield();
        }
        handled = true;
    });
    name(channel, "COM3");
    channel.open();
    ASSERT_EQ(recorder.results(), std::vector<int>{3});

    std::string block;
    for (int i = 0; i < 300; ++i)
        block.push_back(static_cast<char>('a' + i % 26));
    ASSERT_TRUE(com3.send("B"));
    EXPECT_EQ(com3.receive(block.size(), 5s), block);
    ASSERT_TRUE(eventually([&] { return handled.load(); }));
    channel.write(TData("Z"));
    EXPECT_EQ(com3.receive(1, 5s), "Z");

    handled = false;
    ASSERT_TRUE(com3.send("L"));
    // The handler holds on until the drain is done: the bytes come from the drain.
    std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(channel.drain());
    EXPECT_EQ(com3.receive(4, 5s), "PUSK");
    drained = true;
    ASSERT_TRUE(eventually([&] { return handled.load(); }));
    EXPECT_EQ(com3.receiveUntilQuiet(100ms), "");
}

// A reader that is about to wait for something that must follow its writes
// hands them on first, while its text is still being handled.
TEST_F(ChannelTest, AReaderHandsOnItsGatheredWritesWhenAskedMidwayThroughItsText)
{
    SerialPortChannel channel(map(), SerialPortChannel::ReaderWrites::Gathered);
    test::Recorder recorder(channel);
    std::atomic<bool> seen{false};
    std::atomic<bool> handled{false};
    channel.receivedText.connect([&](TData) {
        channel.write(TData("PUSK"));
        channel.flushReaderWrites();
        eventually([&] { return seen.load(); });
        handled = true;
    });
    name(channel, "COM3");
    channel.open();
    ASSERT_EQ(recorder.results(), std::vector<int>{3});
    channel.flushReaderWrites();  // not a reader thread: nothing to hand on
    ASSERT_TRUE(com3.send("FZ"));
    EXPECT_EQ(com3.receive(4, 5s), "PUSK");
    EXPECT_FALSE(handled.load()) << "the bytes came only after the handling";
    seen = true;
    ASSERT_TRUE(eventually([&] { return handled.load(); }));
}

double processCpuSeconds()
{
    timespec t {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

TEST_F(ChannelTest, ReaderStopsAndProcessStaysIdleAfterHangUp)
{
    SerialPortChannel channel(map());
    test::Recorder recorder(channel);
    name(channel, "COM3");
    channel.open();
    ASSERT_TRUE(com3.send("a"));
    ASSERT_TRUE(recorder.waitForBytes(1));

    com3.hangUp();
    std::this_thread::sleep_for(200ms);
    const double before = processCpuSeconds();
    std::this_thread::sleep_for(1s);
    const double used = processCpuSeconds() - before;
    RecordProperty("cpu_ms_in_1s_after_hang_up", std::to_string(used * 1000.0));
    // A reader that kept watching the dead line would use the whole second.
    EXPECT_LT(used, 0.25);

    channel.write(TData("to nobody"));
    channel.close();
    EXPECT_EQ(recorder.received(), "a");
}

class ChannelNonTerminal : public ChannelTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(ChannelNonTerminal, IsRefusedAndNothingIsWritten)
{
    const std::string file = dir.file("plain");
    const std::string target = GetParam() == "regular file" ? file
                               : GetParam() == "directory"  ? dir.dir("sub")
                                                            : "/dev/null";
    dir.link("COM4", target);
    SerialPortChannel channel(map());
    test::Recorder recorder(channel);
    name(channel, "COM4");
    channel.open();
    channel.write(TData("VERS"));
    EXPECT_EQ(recorder.results(), std::vector<int>{0});
    EXPECT_EQ(std::filesystem::file_size(file), 0u);
}

INSTANTIATE_TEST_SUITE_P(Targets, ChannelNonTerminal,
                         ::testing::Values("regular file", "directory", "/dev/null"),
                         [](const auto& info) {
                             return info.param == "/dev/null" ? std::string("dev_null")
                                                              : info.param == "directory"
                                                                    ? std::string("directory")
                                                                    : std::string("regular_file");
                         });

// A reader busy with a received text, waiting on the window thread, while
// the window thread closes the port and opens it again: close does not wait
// for it, and its write, made after, reaches neither the old port nor the new.
TEST_F(ChannelTest, WriteOfAReaderOfAClosedPortGoesNowhere)
{
    WindowDispatcher window;
    SerialPortChannel channel(map());
    name(channel, "COM3");
    std::atomic<bool> inHandler{false};
    std::atomic<bool> handlerDone{false};
    std::atomic<bool> windowRan{false};
    channel.receivedText.connect([&](TData) {
        if (inHandler.exchange(true))
            return;
        window.call([&] { windowRan = true; });
        channel.write(TData("OLD"));
        handlerDone = true;
        window.wake();
    });

    channel.open();
    ASSERT_TRUE(com3.send("x"));
    for (int i = 0; i < 500 && !inHandler; ++i)
        std::this_thread::sleep_for(10ms);
    ASSERT_TRUE(inHandler);

    channel.close();  // the handler is still waiting on this thread
    channel.open();
    window.waitUntil([&] { return handlerDone.load(); });
    EXPECT_TRUE(windowRan);
    channel.write(TData("NEW"));
    EXPECT_EQ(com3.receiveUntilQuiet(200ms), "NEW");
}

} // namespace
} // namespace korv
