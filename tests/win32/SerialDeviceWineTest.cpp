// The Windows serial device against a real COM port: under Wine, a COM port
// mapped to the emulator's pseudo-terminal. scripts/test-windows runs it
// with the emulator answering on KORVANTEMIS_TEST_PORT ("\\.\COM7") and
// KORVANTEMIS_TEST_MISSING_PORT naming a port whose device does not exist.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "serial/SerialDevice.h"
#include "support/Watchdog.h"

namespace korv {
namespace {

using namespace std::chrono_literals;

std::string fromEnvironment(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::unique_ptr<SerialDevice> openConfigured()
{
    const std::string port = fromEnvironment("KORVANTEMIS_TEST_PORT");
    if (port.empty()) {
        ADD_FAILURE() << "KORVANTEMIS_TEST_PORT names no port";
        return nullptr;
    }
    OpenedDevice opened = openSerialDevice(port);
    EXPECT_EQ(opened.error, SerialError::None) << port;
    if (!opened.device)
        return nullptr;
    // The rate read back may differ a little from 38462 (38400 under Wine).
    EXPECT_EQ(opened.device->configure(LineSettings{}), SerialError::None);
    return std::move(opened.device);
}

// Reads until text holds want, or the device stops giving input.
std::string readUntil(SerialDevice& device, const std::string& want)
{
    std::string text;
    while (text.find(want) == std::string::npos) {
        if (device.waitForInput() != SerialDevice::Wake::Input)
            break;
        const std::optional<std::string> got = device.readWaiting();
        if (!got)
            break;
        text += *got;
    }
    return text;
}

TEST(Win32SerialDevice, AsksTheDeviceAndReadsItsWholeReply)
{
    test::Watchdog watchdog(60s);
    const std::unique_ptr<SerialDevice> device = openConfigured();
    ASSERT_NE(device, nullptr);
    ASSERT_EQ(device->discardQueues(), SerialError::None);
    ASSERT_EQ(device->write("VERS", 2s), SerialError::None);
    EXPECT_NE(readUntil(*device, "KORVANTEMIS").find("KORVANTEMIS"), std::string::npos);
    EXPECT_EQ(device->drain(2s), SerialError::None);
}

TEST(Win32SerialDevice, DiscardedInputIsNotReadLater)
{
    test::Watchdog watchdog(60s);
    const std::unique_ptr<SerialDevice> device = openConfigured();
    ASSERT_NE(device, nullptr);
    ASSERT_EQ(device->write("VERS", 2s), SerialError::None);
    // The first byte of the reply is taken by the reader's wait already.
    ASSERT_EQ(device->waitForInput(), SerialDevice::Wake::Input);
    std::this_thread::sleep_for(500ms);  // the rest of the reply arrives
    ASSERT_EQ(device->discardInput(), SerialError::None);
    const std::optional<std::string> left = device->readWaiting();
    ASSERT_TRUE(left.has_value());
    EXPECT_EQ(*left, "");
}

TEST(Win32SerialDevice, CancelEndsAPendingWaitAndEveryLaterOne)
{
    test::Watchdog watchdog(60s);
    const std::unique_ptr<SerialDevice> device = openConfigured();
    ASSERT_NE(device, nullptr);
    SerialDevice::Wake woke = SerialDevice::Wake::Input;
    std::thread reader([&] { woke = device->waitForInput(); });
    std::this_thread::sleep_for(300ms);  // the reader is waiting on the silent line
    device->cancel();
    reader.join();
    EXPECT_EQ(woke, SerialDevice::Wake::Stopped);
    EXPECT_EQ(device->waitForInput(), SerialDevice::Wake::Stopped);
    EXPECT_EQ(device->write("V", 2s), SerialError::Cancelled);
}

// Run with an emulator that hangs up once the first block has arrived.
TEST(Win32SerialDevice, AGoneDeviceEndsTheWait)
{
    test::Watchdog watchdog(60s);
    const std::unique_ptr<SerialDevice> device = openConfigured();
    ASSERT_NE(device, nullptr);
    ASSERT_EQ(device->write("VERS", 2s), SerialError::None);
    ASSERT_NE(readUntil(*device, "KORVANTEMIS").find("KORVANTEMIS"), std::string::npos);
    ASSERT_EQ(device->write(std::string(256, '\x5A'), 2s), SerialError::None);
    // Whatever the device still said before it went, the wait then ends.
    SerialDevice::Wake woke = SerialDevice::Wake::Input;
    while (woke == SerialDevice::Wake::Input) {
        woke = device->waitForInput();
        if (woke == SerialDevice::Wake::Input)
            device->readWaiting();
    }
    EXPECT_EQ(woke, SerialDevice::Wake::Gone);
    EXPECT_EQ(device->waitForInput(), SerialDevice::Wake::Gone);
}

TEST(Win32SerialDevice, PortsWithoutAWorkingDeviceAreRefused)
{
    const std::string missing = fromEnvironment("KORVANTEMIS_TEST_MISSING_PORT");
    ASSERT_FALSE(missing.empty()) << "KORVANTEMIS_TEST_MISSING_PORT names no port";
    for (const std::string& path : {missing, std::string("\\\\.\\COM200")}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(probeSerialDevice(path), SerialError::NotFound);
        const OpenedDevice opened = openSerialDevice(path);
        EXPECT_EQ(opened.device, nullptr);
        EXPECT_EQ(opened.error, SerialError::NotFound);
    }
    // A character device that is no serial line.
    EXPECT_EQ(probeSerialDevice("NUL"), SerialError::NotATerminal);
}

} // namespace
} // namespace korv
