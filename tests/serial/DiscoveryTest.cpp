#include <gtest/gtest.h>

#include "serial/Recorder.h"
#include "serial/SerialPortChannel.h"
#include "support/Pty.h"

namespace korv {
namespace {

using Names = std::vector<std::string>;

TEST(Discovery, ListsFreePortsInNumberOrderAndSkipsHeldOnes)
{
    test::DeliveryOn delivery;
    test::TempDir dir;
    test::Pty com1, com2, com3, com10;
    dir.link("COM10", com10.slavePath());
    dir.link("COM1", com1.slavePath());
    dir.link("COM2", com2.slavePath());
    dir.link("com3", com3.slavePath());
    dir.link("COM4", dir.file("plain"));
    dir.link("COM9", dir.path() + "/absent");
    const auto before = com1.line();
    ASSERT_TRUE(before.has_value());

    ASSERT_TRUE(com2.lockSlave());
    SerialPortChannel channel(PortMap::fromDirectory(dir.path()));
    test::Recorder recorder(channel);
    channel.runDiscovery();
    EXPECT_EQ(recorder.found(), (Names{"COM1", "COM3", "COM10"}));

    // The probe leaves the line as it was, and the port free.
    const auto after = com1.line();
    ASSERT_TRUE(after.has_value());
    EXPECT_EQ(after->outputRate, before->outputRate);
    EXPECT_EQ(after->rawInput, before->rawInput);
    channel.portName.connect([] { return TData("COM1"); });
    channel.open();
    EXPECT_EQ(recorder.results(), std::vector<int>{1});
    channel.close();

    com2.unlockSlave();
    test::Recorder again(channel);
    channel.runDiscovery();
    EXPECT_EQ(again.found(), (Names{"COM1", "COM2", "COM3", "COM10"}));
}

} // namespace
} // namespace korv
