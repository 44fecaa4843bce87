#include <gtest/gtest.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "serial/Recorder.h"
#include "serial/SerialDevice.h"
#include "serial/SerialPortChannel.h"

namespace korv {
namespace {

using namespace std::chrono_literals;

// What a stand-in device does and what was done to it, shared between the
// test and the device the channel holds (which the channel may destroy).
struct Line {
    SerialError configureGives = SerialError::None;
    SerialError discardGives = SerialError::None;

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> opened;  // the paths asked for
    int alive = 0;                    // devices made and not yet destroyed
    int configured = 0;
    bool cancelled = false;
    std::string incoming;  // bytes waiting for the reader
    std::string written;

    void arrive(const std::string& bytes)
    {
        std::lock_guard lock(mutex);
        incoming += bytes;
        changed.notify_all();
    }
    template <typename T>
    T get(const T& what)
    {
        std::lock_guard lock(mutex);
        return what;
    }
};

class StandInDevice : public SerialDevice {
public:
    explicit StandInDevice(Line& line) : line_(line)
    {
        std::lock_guard lock(line_.mutex);
        ++line_.alive;
    }
    ~StandInDevice() override
    {
        std::lock_guard lock(line_.mutex);
        --line_.alive;
    }

    SerialError configure(const LineSettings& settings) override
    {
        std::lock_guard lock(line_.mutex);
        line_.configured = static_cast<int>(settings.bitRate);
        return line_.configureGives;
    }
    SerialError discardQueues() override { return line_.discardGives; }
    SerialError discardInput() override { return line_.discardGives; }
    Wake waitForInput() override
    {
        std::unique_lock lock(line_.mutex);
        line_.changed.wait(lock, [&] { return line_.cancelled || !line_.incoming.empty(); });
        return line_.cancelled ? Wake::Stopped : Wake::Input;
    }
    std::optional<std::string> readWaiting() override
    {
        std::lock_guard lock(line_.mutex);
        return std::exchange(line_.incoming, {});
    }
    SerialError write(std::string_view bytes, std::chrono::milliseconds) override
    {
        std::lock_guard lock(line_.mutex);
        line_.written += bytes;
        return SerialError::None;
    }
    SerialError drain(std::chrono::milliseconds) override { return SerialError::None; }
    void cancel() override
    {
        std::lock_guard lock(line_.mutex);
        line_.cancelled = true;
        line_.changed.notify_all();
    }

private:
    Line& line_;
};

class StandInChannelTest : public ::testing::Test {
protected:
    SerialPortChannel::ReaderWrites mode = SerialPortChannel::ReaderWrites::EachAtOnce;

    std::unique_ptr<SerialPortChannel> makeChannel(const std::string& portName)
    {
        auto channel = std::make_unique<SerialPortChannel>(
            PortMap({{3, "/stand-in/three"}}), mode, [this](const std::string& path) {
                {
                    std::lock_guard lock(line.mutex);
                    line.opened.push_back(path);
                }
                return OpenedDevice{std::make_unique<StandInDevice>(line), SerialError::None};
            });
        channel->portName.connect([portName] { return TData(portName); });
        return channel;
    }

    test::DeliveryOn delivery;
    Line line;
};

struct RefusalCase {
    const char* what;
    SerialError configureGives;
    SerialError discardGives;
};

class StandInRefusal : public StandInChannelTest, public ::testing::WithParamInterface<RefusalCase> {};

// A device that refuses a step of the opening is closed again at once: open
// result 0, no reader, and nothing written to it afterwards.
TEST_P(StandInRefusal, ClosesTheDeviceAndReportsZero)
{
    line.configureGives = GetParam().configureGives;
    line.discardGives = GetParam().discardGives;
    auto channel = makeChannel("COM3");
    test::Recorder recorder(*channel);
    channel->open();

    EXPECT_EQ(recorder.results(), std::vector<int>{0});
    EXPECT_EQ(line.get(line.opened), std::vector<std::string>{"/stand-in/three"});
    EXPECT_EQ(line.get(line.configured), 38462);
    EXPECT_EQ(line.get(line.alive), 0);
    channel->write(TData("VERS"));
    EXPECT_EQ(line.get(line.written), "");

    // Not left half open: the next request opens again.
    line.configureGives = SerialError::None;
    line.discardGives = SerialError::None;
    channel->open();
    EXPECT_EQ(recorder.results(), (std::vector<int>{0, 3}));
}

INSTANTIATE_TEST_SUITE_P(
    Steps, StandInRefusal,
    ::testing::Values(RefusalCase{"settings", SerialError::SettingsRefused, SerialError::None},
                      RefusalCase{"notATerminal", SerialError::NotATerminal, SerialError::None},
                      RefusalCase{"discard", SerialError::None, SerialError::Io}),
    [](const auto& info) { return std::string(info.param.what); });

// Names the check refuses, and names the port map does not know, never reach
// the device opener.
TEST_F(StandInChannelTest, RefusedNamesOpenNoDevice)
{
    for (const char* name : {"COM1234", "COM0", "COM256", "LPT3", "", "COM03", "COM3X", "COM4"}) {
        auto channel = makeChannel(name);
        test::Recorder recorder(*channel);
        channel->open();
        EXPECT_EQ(recorder.results(), std::vector<int>{0}) << name;
    }
    EXPECT_TRUE(line.get(line.opened).empty());
}

TEST_F(StandInChannelTest, OpenerThatFailsReportsZero)
{
    SerialPortChannel channel(PortMap({{3, "/stand-in/three"}}), mode, [](const std::string&) {
        return OpenedDevice{nullptr, SerialError::Busy};
    });
    channel.portName.connect([] { return TData("com3"); });
    test::Recorder recorder(channel);
    channel.open();
    EXPECT_EQ(recorder.results(), std::vector<int>{0});
}

// The reader hands each wake-up's bytes on, the writes reach the device, and
// close cancels and destroys it.
TEST_F(StandInChannelTest, CarriesBothWaysAndCloseDestroysTheDevice)
{
    auto channel = makeChannel("Com3");
    test::Recorder recorder(*channel);
    channel->open();
    ASSERT_EQ(recorder.results(), std::vector<int>{3});
    EXPECT_EQ(line.get(line.alive), 1);

    channel->write(TData("VERS"));
    EXPECT_EQ(line.get(line.written), "VERS");
    line.arrive(std::string("KORVANTEMIS\0 x", 14));
    ASSERT_TRUE(recorder.waitForBytes(14));
    EXPECT_EQ(recorder.received(), std::string("KORVANTEMIS\0 x", 14));

    channel->close();
    EXPECT_TRUE(line.get(line.cancelled));
    EXPECT_EQ(line.get(line.alive), 0);
    channel->write(TData("PUSK"));
    EXPECT_EQ(line.get(line.written), "VERS");
}

} // namespace
} // namespace korv
