#include <cstdlib>
#include <gtest/gtest.h>

#include "serial/PortMap.h"
#include "support/Pty.h"

namespace korv {
namespace {

using Map = std::map<int, std::string>;

TEST(PortMapSysfs, NumbersHardwareTtysByKernelName)
{
    test::TempDir sysfs;
    test::TempDir devices;  // where the real nodes would be: only named here
    for (const char* name : {"ttyS0", "ttyS3", "ttyS31", "ttyS32", "ttyUSB1", "ttyACM0", "ttyAMA0",
                             "ttyXRUSB2", "ttymxc15", "ttySC1", "ttyTHS0", "ttyMSM1", "ttyFOO0",
                             "ttyUSB01", "ttyACM"})
        sysfs.dir(std::string(name) + "/device");
    // Without a device link: a virtual console and a pseudo-terminal.
    sysfs.dir("tty5");
    sysfs.dir("ttyS7");
    // The device link as the kernel makes it: a symbolic link.
    sysfs.dir("ttyUSB0");
    sysfs.link("ttyUSB0/device", sysfs.path() + "/ttyS0/device");

    const std::string d = devices.path() + "/";
    const Map expected{
        {1, d + "ttyS0"},       {4, d + "ttyS3"},      {32, d + "ttyS31"},   {33, d + "ttyUSB0"},
        {34, d + "ttyUSB1"},    {65, d + "ttyACM0"},   {97, d + "ttyAMA0"},  {115, d + "ttyXRUSB2"},
        {144, d + "ttymxc15"},  {146, d + "ttySC1"},   {161, d + "ttyTHS0"}, {178, d + "ttyMSM1"},
    };
    EXPECT_EQ(PortMap::fromSysfs(sysfs.path(), devices.path()).entries(), expected);
}

TEST(PortMapSysfs, MissingTreeGivesEmptyMap)
{
    test::TempDir dir;
    EXPECT_TRUE(PortMap::fromSysfs(dir.path() + "/absent").entries().empty());
}

TEST(PortMapDirectory, TakesComEntriesInAscendingNumber)
{
    test::TempDir dir;
    const std::string com3 = dir.link("COM3", "/dev/pts/77");
    const std::string com10 = dir.link("com10", "/dev/ttyUSB9");
    const std::string com2 = dir.file("Com2");
    const std::string com255 = dir.link("COM255", "/dev/ttyACM0");
    for (const char* ignored : {"COM03", "COM0", "COM256", "COM3X", "LPT1", "notes.txt", "COM"})
        dir.link(ignored, "/dev/null");

    const PortMap map = PortMap::fromDirectory(dir.path());
    EXPECT_EQ(map.entries(), (Map{{2, com2}, {3, com3}, {10, com10}, {255, com255}}));
    EXPECT_EQ(map.deviceFor("com3"), com3);
    EXPECT_EQ(map.deviceFor("COM10"), com10);
    EXPECT_EQ(map.deviceFor("COM3X"), std::nullopt);
    EXPECT_EQ(map.deviceFor("COM03"), std::nullopt);
    EXPECT_EQ(map.deviceFor("COM4"), std::nullopt);
}

TEST(PortMapDirectory, MissingDirectoryGivesEmptyMap)
{
    test::TempDir dir;
    EXPECT_TRUE(PortMap::fromDirectory(dir.path() + "/absent").entries().empty());
    EXPECT_TRUE(PortMap::fromDirectory(dir.file("plain")).entries().empty());
}

TEST(PortMapOrder, ListsInTheSystemsOrderEachPortOnceElseByNumber)
{
    using Listed = std::vector<std::pair<int, std::string>>;
    const Map devices{{2, "b"}, {3, "c"}, {10, "j"}};
    EXPECT_EQ(PortMap(devices).inListingOrder(), (Listed{{2, "b"}, {3, "c"}, {10, "j"}}));
    // Repeats and numbers without a device are left out; a device the order
    // does not name still opens, but is not listed.
    const PortMap ordered(devices, {10, 3, 10, 99});
    EXPECT_EQ(ordered.inListingOrder(), (Listed{{10, "j"}, {3, "c"}}));
    EXPECT_EQ(ordered.deviceFor("COM2"), "b");
}

TEST(PortMapSystem, EnvironmentNamesTheDirectory)
{
    test::TempDir dir;
    const std::string com7 = dir.link("COM7", "/dev/pts/5");
    ASSERT_EQ(setenv("KORVANTEMIS_PORT_MAP", dir.path().c_str(), 1), 0);
    EXPECT_EQ(PortMap::fromSystem().entries(), (Map{{7, com7}}));
    ASSERT_EQ(setenv("KORVANTEMIS_PORT_MAP", (dir.path() + "/absent").c_str(), 1), 0);
    EXPECT_TRUE(PortMap::fromSystem().entries().empty());
    unsetenv("KORVANTEMIS_PORT_MAP");
}

} // namespace
} // namespace korv
