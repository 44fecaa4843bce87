#include <algorithm>
#include <cctype>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <ostream>
#include <sys/prctl.h>
#include <unistd.h>

#include "serial/PortDetails.h"
#include "support/Pty.h"

namespace korv {

void PrintTo(const PortDetails& d, std::ostream* os)
{
    *os << "{" << d.kernelName << ", " << d.driver << ", " << d.usbId << ", " << d.manufacturer << ", "
        << d.product << ", " << d.serialNumber << "}";
}

void PrintTo(const PortHolder& h, std::ostream* os) { *os << "{" << h.pid << ", " << h.command << "}"; }

namespace {

using Holders = std::vector<PortHolder>;
using Attributes = std::map<std::string, std::string>;

// A root directory with dev/ and a sys/ laid out as the kernel lays it out:
// sys/class/tty/<name> is a link to the tty's directory under sys/devices,
// whose device link leads to the directory of the device it belongs to. For
// a usb-serial adapter that is the adapter port below the USB interface, for
// a CDC ACM device the interface itself; the USB device holding the ids is
// the directory above the interface. A UART's tty may lead to the serial
// core's port device, below its controller device, below the UART.
class FakeSystem {
public:
    FakeSystem()
    {
        root_.dir("dev");
        root_.dir("sys/class/tty");
        const std::string hub = "pci0000:00/0000:00:14.0/usb1";
        usbDevice(hub, {{"idVendor", "1d6b\n"}, {"idProduct", "0002\n"}, {"manufacturer", "Linux xhci-hcd\n"},
                        {"product", "xHCI Host Controller\n"}, {"serial", "0000:00:14.0\n"}});

        usbDevice(hub + "/1-2", {{"idVendor", "0403\n"}, {"idProduct", "6001\n"}, {"manufacturer", "FTDI\n"},
                                 {"product", "FT232R USB UART\n"}, {"serial", "A50285BI\n"}});
        bind(hub + "/1-2/1-2:1.0", "usb", "ftdi_sio");
        bind(hub + "/1-2/1-2:1.0/ttyUSB0", "usb-serial", "ftdi_sio");
        tty("ttyUSB0", hub + "/1-2/1-2:1.0/ttyUSB0");

        usbDevice(hub + "/1-4",
                  {{"idVendor", "1a86\n"}, {"idProduct", "7523\n"}, {"product", "USB Serial  \n"}});
        bind(hub + "/1-4/1-4:1.0", "usb", "ch341");
        bind(hub + "/1-4/1-4:1.0/ttyUSB1", "usb-serial", "ch341");
        tty("ttyUSB1", hub + "/1-4/1-4:1.0/ttyUSB1");

        usbDevice(hub + "/1-3", {{"idVendor", "2341\n"}, {"idProduct", "0043\n"},
                                 {"manufacturer", "Arduino (www.arduino.cc)\n"}, {"product", "Arduino Uno\n"},
                                 {"serial", "7583335303535161E0B1\n"}});
        bind(hub + "/1-3/1-3:1.0", "usb", "cdc_acm");
        tty("ttyACM0", hub + "/1-3/1-3:1.0");

        bind("platform/serial8250", "platform", "serial8250");
        tty("ttyS1", "platform/serial8250");

        bind("platform/fe201000.serial", "amba", "uart-pl011");
        bind("platform/fe201000.serial/fe201000.serial:0", "serial-base", "ctrl");
        bind("platform/fe201000.serial/fe201000.serial:0/fe201000.serial:0.0", "serial-base", "port");
        tty("ttyAMA0", "platform/fe201000.serial/fe201000.serial:0/fe201000.serial:0.0");

        // A virtual console: listed, but with no device behind it.
        root_.dir("sys/devices/virtual/tty/tty5");
        root_.link("sys/class/tty/tty5", root_.path() + "/sys/devices/virtual/tty/tty5");
        root_.file("dev/tty5");
        // A device node the kernel does not list (a node made by hand).
        root_.file("dev/ttyUSB9");
        // Port map entries link to stable names, which link to the node.
        root_.dir("dev/serial/by-id");
        const std::string byId =
            root_.link("dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "../../ttyUSB0");
        root_.dir("ports");
        root_.link("ports/COM33", byId);
    }

    std::string path(const std::string& inRoot) const { return root_.path() + "/" + inRoot; }
    std::string sysfsTty() const { return path("sys/class/tty"); }

private:
    void usbDevice(const std::string& dir, const Attributes& attributes)
    {
        root_.dir("sys/devices/" + dir);
        for (const auto& [name, content] : attributes)
            root_.file("sys/devices/" + dir + "/" + name, content);
        bind(dir, "usb", "usb");
    }

    // The device at dir, on bus and bound to driver there.
    void bind(const std::string& dir, const std::string& bus, const std::string& driver)
    {
        const std::string device = "sys/devices/" + dir;
        root_.dir(device);
        root_.link(device + "/subsystem", root_.dir("sys/bus/" + bus));
        root_.link(device + "/driver", root_.dir("sys/bus/" + bus + "/drivers/" + driver));
    }

    // The tty name, whose device is at deviceDir, and its node.
    void tty(const std::string& name, const std::string& deviceDir)
    {
        const std::string inDevice = "sys/devices/" + deviceDir + "/tty/" + name;
        root_.link("sys/class/tty/" + name, root_.dir(inDevice));
        root_.link(inDevice + "/device", "../../../" + deviceDir.substr(deviceDir.rfind('/') + 1));
        root_.file("dev/" + name);
    }

    test::TempDir root_;
};

struct DescribeCase {
    const char* what;
    const char* path;  // in the fake system's root
    PortDetails expected;
};

void PrintTo(const DescribeCase& c, std::ostream* os) { *os << c.what; }

class DescribePort : public ::testing::TestWithParam<DescribeCase> {};

TEST_P(DescribePort, ReportsWhatSysfsSays)
{
    const FakeSystem system;
    EXPECT_EQ(describePort(system.path(GetParam().path), system.sysfsTty()), GetParam().expected);
}

const PortDetails ftdi{"ttyUSB0", "ftdi_sio", "0403:6001", "FTDI", "FT232R USB UART", "A50285BI"};

INSTANTIATE_TEST_SUITE_P(
    Devices, DescribePort,
    ::testing::Values(
        DescribeCase{"usb serial adapter", "dev/ttyUSB0", ftdi},
        DescribeCase{"adapter without serial number", "dev/ttyUSB1",
                     {"ttyUSB1", "ch341", "1a86:7523", "", "USB Serial", ""}},
        DescribeCase{"cdc acm device", "dev/ttyACM0",
                     {"ttyACM0", "cdc_acm", "2341:0043", "Arduino (www.arduino.cc)", "Arduino Uno",
                      "7583335303535161E0B1"}},
        DescribeCase{"platform uart", "dev/ttyS1", {.kernelName = "ttyS1", .driver = "serial8250"}},
        DescribeCase{"uart behind serial core ports", "dev/ttyAMA0",
                     {.kernelName = "ttyAMA0", .driver = "uart-pl011"}},
        DescribeCase{"tty without device", "dev/tty5", {.kernelName = "tty5"}},
        DescribeCase{"node not in sysfs", "dev/ttyUSB9", {.kernelName = "ttyUSB9"}},
        DescribeCase{"missing node", "dev/ttyUSB3", {.kernelName = "ttyUSB3"}},
        DescribeCase{"port map link", "ports/COM33", ftdi}),
    [](const auto& info) {
        std::string n = info.param.what;
        for (char& c : n)
            c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        return n;
    });

TEST(DescribePort, MissingSysfsGivesOnlyTheKernelName)
{
    test::TempDir dir;
    EXPECT_EQ(describePort(dir.file("ttyUSB0"), dir.path() + "/absent"),
              (PortDetails{.kernelName = "ttyUSB0"}));
}

// Gives this process a name of its own while it lives, so that its entry
// in the process table can be told by it.
class ProcessName {
public:
    explicit ProcessName(const char* name)
    {
        ::prctl(PR_GET_NAME, saved_);
        ::prctl(PR_SET_NAME, name);
    }
    ~ProcessName() { ::prctl(PR_SET_NAME, saved_); }
    ProcessName(const ProcessName&) = delete;
    ProcessName& operator=(const ProcessName&) = delete;

private:
    char saved_[16] = {};
};

TEST(PortHolders, FindsThisProcessHoldingAPseudoTerminal)
{
    const ProcessName name("korv-holder");
    test::Pty pty;
    ASSERT_TRUE(pty.isOpen());
    test::TempDir ports;
    const std::string com1 = ports.link("COM1", pty.slavePath());

    const Holders us{{static_cast<int>(::getpid()), "korv-holder"}};
    EXPECT_EQ(findPortHolders(pty.slavePath()), us);
    EXPECT_EQ(findPortHolders(com1), us);
}

TEST(PortHolders, OnlyWhileTheFileIsOpen)
{
    const ProcessName name("korv-holder");
    test::TempDir dir;
    const std::string file = dir.file("ttyUSB0");
    EXPECT_EQ(findPortHolders(file), Holders{});

    const int fd = ::open(file.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(findPortHolders(file), (Holders{{static_cast<int>(::getpid()), "korv-holder"}}));
    ::close(fd);
    EXPECT_EQ(findPortHolders(file), Holders{});

    EXPECT_EQ(findPortHolders(dir.path() + "/absent"), Holders{});
}

TEST(PortHolders, SkipsWhatCannotBeReadInAFakeProcessTable)
{
    test::TempDir dir;
    const std::string device = dir.file("ttyUSB0");
    const std::string other = dir.file("notes.txt");
    test::TempDir proc;
    const auto process = [&](const std::string& pid, const std::map<std::string, std::string>& fds,
                             const char* comm) {
        proc.dir(pid + "/fd");
        for (const auto& [fd, target] : fds)
            proc.link(pid + "/fd/" + fd, target);
        if (comm != nullptr)
            proc.file(pid + "/comm", comm);
    };
    process("100", {{"3", device}}, "minicom\n");
    process("205", {{"0", other}, {"1", device}, {"2", device}}, "screen\n");
    process("31", {{"5", device}}, nullptr);  // ended before its name was read
    process("302", {{"4", dir.path() + "/closed"}}, "gone\n");
    process("303", {{"1", other}}, "editor\n");
    process("99999999999999999999", {{"1", device}}, "toolong\n");
    // Open files that cannot be listed, and a process that has ended.
    proc.dir("300");
    proc.file("300/fd");
    proc.file("300/comm", "locked\n");
    proc.dir("301");
    // Not processes, though they look like one.
    proc.link("self", proc.path() + "/100");
    process("net", {{"1", device}}, "net\n");

    EXPECT_EQ(findPortHolders(device, proc.path()), (Holders{{31, ""}, {100, "minicom"}, {205, "screen"}}));
    EXPECT_EQ(findPortHolders(device, proc.path() + "/absent"), Holders{});
}

TEST(DeviceGroup, FileOfOurPrimaryGroup)
{
    test::TempDir dir;
    const std::string file = dir.file("ttyUSB0");
    ASSERT_EQ(::chown(file.c_str(), static_cast<uid_t>(-1), ::getegid()), 0);
    const group* primary = ::getgrgid(::getegid());
    ASSERT_NE(primary, nullptr);
    const std::string primaryName = primary->gr_name;

    for (const std::string& path : {file, dir.link("COM33", file)}) {
        EXPECT_EQ(deviceGroup(path), primaryName) << path;
        EXPECT_TRUE(inDeviceGroup(path)) << path;
    }
    EXPECT_EQ(deviceGroup(dir.path() + "/absent"), "");
    EXPECT_FALSE(inDeviceGroup(dir.path() + "/absent"));
}

std::vector<gid_t> ourSupplementaryGroups()
{
    std::vector<gid_t> groups(static_cast<std::size_t>(::getgroups(0, nullptr)));
    groups.resize(static_cast<std::size_t>(::getgroups(static_cast<int>(groups.size()), groups.data())));
    return groups;
}

// A group in the group database that this process is not in.
std::optional<gid_t> namedGroupNotOurs()
{
    const std::vector<gid_t> ours = ourSupplementaryGroups();
    std::optional<gid_t> found;
    ::setgrent();
    while (const group* g = ::getgrent()) {
        if (g->gr_gid != ::getegid() && std::find(ours.begin(), ours.end(), g->gr_gid) == ours.end()) {
            found = g->gr_gid;
            break;
        }
    }
    ::endgrent();
    return found;
}

// Sets this process's supplementary groups while it lives.
class SupplementaryGroups {
public:
    explicit SupplementaryGroups(const std::vector<gid_t>& groups)
        : saved_(ourSupplementaryGroups()), set_(::setgroups(groups.size(), groups.data()) == 0)
    {
    }
    ~SupplementaryGroups()
    {
        if (set_)
            ::setgroups(saved_.size(), saved_.data());
    }
    SupplementaryGroups(const SupplementaryGroups&) = delete;
    SupplementaryGroups& operator=(const SupplementaryGroups&) = delete;
    bool set() const { return set_; }

private:
    std::vector<gid_t> saved_;
    bool set_;
};

TEST(DeviceGroup, OtherGroupCountsOnlyOnceJoined)
{
    const std::optional<gid_t> other = namedGroupNotOurs();
    if (!other)
        GTEST_SKIP() << "the group database has no group this process is not in";
    const std::string otherName = ::getgrgid(*other)->gr_name;
    test::TempDir dir;
    const std::string file = dir.file("ttyUSB0");
    if (::chown(file.c_str(), static_cast<uid_t>(-1), *other) != 0)
        GTEST_SKIP() << "giving a file to a group of others needs privileges";

    EXPECT_EQ(deviceGroup(file), otherName);
    EXPECT_FALSE(inDeviceGroup(file));

    std::vector<gid_t> joined = ourSupplementaryGroups();
    joined.push_back(*other);
    const SupplementaryGroups groups(joined);
    ASSERT_TRUE(groups.set());
    EXPECT_TRUE(inDeviceGroup(file));
    EXPECT_EQ(deviceGroup(file), otherName);
}

TEST(DeviceGroup, GroupWithoutNameIsUnknown)
{
    constexpr gid_t unnamed = 54321;
    if (::getgrgid(unnamed) != nullptr)
        GTEST_SKIP() << "the group database names gid " << unnamed;
    test::TempDir dir;
    const std::string file = dir.file("ttyUSB0");
    if (::chown(file.c_str(), static_cast<uid_t>(-1), unnamed) != 0)
        GTEST_SKIP() << "giving a file to a group of others needs privileges";

    EXPECT_EQ(deviceGroup(file), "");
    EXPECT_FALSE(inDeviceGroup(file));
}

} // namespace
} // namespace korv
