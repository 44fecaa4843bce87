#include <cctype>
#include <future>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "serial/SerialDevice.h"
#include "support/Pty.h"

namespace korv {
namespace {

using namespace std::chrono_literals;

struct RefusalCase {
    const char* what;
    SerialError expected;
};

class SerialDeviceRefusal : public ::testing::TestWithParam<RefusalCase> {};

// Where each kind of path ends up, made fresh for every case.
std::string pathFor(const std::string& what, test::TempDir& dir, test::Pty& pty)
{
    if (what == "regular file")
        return dir.file("plain");
    if (what == "directory")
        return dir.dir("sub");
    if (what == "/dev/null")
        return "/dev/null";
    if (what == "missing")
        return dir.path() + "/absent";
    // "held": a pseudo-terminal whose lock another program holds.
    EXPECT_TRUE(pty.lockSlave());
    return pty.slavePath();
}

TEST_P(SerialDeviceRefusal, OpenAndProbeRefuse)
{
    test::TempDir dir;
    test::Pty pty;
    ASSERT_TRUE(pty.isOpen());
    const std::string path = pathFor(GetParam().what, dir, pty);

    const OpenedDevice opened = openSerialDevice(path);
    EXPECT_EQ(opened.device, nullptr);
    EXPECT_EQ(opened.error, GetParam().expected);
    EXPECT_EQ(probeSerialDevice(path), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Paths, SerialDeviceRefusal,
                         ::testing::Values(RefusalCase{"regular file", SerialError::NotATerminal},
                                           RefusalCase{"directory", SerialError::NotATerminal},
                                           RefusalCase{"/dev/null", SerialError::NotATerminal},
                                           RefusalCase{"missing", SerialError::NotFound},
                                           RefusalCase{"held", SerialError::Busy}),
                         [](const auto& info) {
                             std::string n = info.param.what;
                             for (char& c : n)
                                 c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             return n;
                         });

TEST(SerialDevice, SecondOpenOfHeldDeviceIsBusyUntilClosed)
{
    test::Pty pty;
    OpenedDevice first = openSerialDevice(pty.slavePath());
    ASSERT_NE(first.device, nullptr);
    EXPECT_EQ(openSerialDevice(pty.slavePath()).error, SerialError::Busy);
    EXPECT_EQ(probeSerialDevice(pty.slavePath()), SerialError::Busy);
    first.device.reset();
    EXPECT_EQ(probeSerialDevice(pty.slavePath()), SerialError::None);
}

TEST(SerialDevice, CancelEndsAWaitForInput)
{
    test::Pty pty;
    OpenedDevice opened = openSerialDevice(pty.slavePath());
    ASSERT_NE(opened.device, nullptr);
    auto wake = std::async(std::launch::async, [&] { return opened.device->waitForInput(); });
    EXPECT_EQ(wake.wait_for(100ms), std::future_status::timeout);
    opened.device->cancel();
    ASSERT_EQ(wake.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(wake.get(), SerialDevice::Wake::Stopped);
}

enum class Stuck { Cancelled, TimedOut, HungUp };

class SerialDeviceStuckWrite : public ::testing::TestWithParam<Stuck> {};

// The far end reads nothing, so a write far larger than the kernel's buffers
// has to wait; it must end by cancel(), by its time-out, or when the far end
// goes.
TEST_P(SerialDeviceStuckWrite, Ends)
{
    test::Pty pty;
    OpenedDevice opened = openSerialDevice(pty.slavePath());
    ASSERT_NE(opened.device, nullptr);
    ASSERT_EQ(opened.device->configure(LineSettings{}), SerialError::None);
    const std::string big(8 << 20, 'x');
    const auto timeout = GetParam() == Stuck::TimedOut ? 200ms : 60000ms;
    auto written = std::async(std::launch::async, [&] { return opened.device->write(big, timeout); });
    if (GetParam() != Stuck::TimedOut) {
        EXPECT_EQ(written.wait_for(100ms), std::future_status::timeout);
        if (GetParam() == Stuck::Cancelled)
            opened.device->cancel();
        else
            pty.hangUp();
    }
    ASSERT_EQ(written.wait_for(10s), std::future_status::ready);
    const SerialError expected = GetParam() == Stuck::Cancelled  ? SerialError::Cancelled
                                 : GetParam() == Stuck::TimedOut ? SerialError::TimedOut
                                                                 : SerialError::Gone;
    EXPECT_EQ(written.get(), expected);
}

INSTANTIATE_TEST_SUITE_P(Ways, SerialDeviceStuckWrite,
                         ::testing::Values(Stuck::Cancelled, Stuck::TimedOut, Stuck::HungUp),
                         [](const auto& info) {
                             return info.param == Stuck::Cancelled  ? std::string("Cancelled")
                                    : info.param == Stuck::TimedOut ? std::string("TimedOut")
                                                                    : std::string("HungUp");
                         });

TEST(SerialDevice, ReadsExactlyWhatIsWaitingAndSeesHangUp)
{
    test::Pty pty;
    OpenedDevice opened = openSerialDevice(pty.slavePath());
    ASSERT_NE(opened.device, nullptr);
    ASSERT_EQ(opened.device->configure(LineSettings{}), SerialError::None);
    ASSERT_TRUE(pty.send(std::string("ab\0c", 4)));
    std::string got;
    while (got.size() < 4) {
        ASSERT_EQ(opened.device->waitForInput(), SerialDevice::Wake::Input);
        const auto text = opened.device->readWaiting();
        ASSERT_TRUE(text.has_value());
        got += *text;
    }
    EXPECT_EQ(got, std::string("ab\0c", 4));
    EXPECT_EQ(opened.device->readWaiting(), std::string());

    pty.hangUp();
    EXPECT_EQ(opened.device->waitForInput(), SerialDevice::Wake::Gone);
}

} // namespace
} // namespace korv
