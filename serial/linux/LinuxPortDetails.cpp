#include "serial/PortDetails.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <optional>
#include <string_view>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace korv {
namespace {

namespace fs = std::filesystem;

// The first line of a sysfs or procfs file; empty when it cannot be read.
// Trailing blanks go too: devices pad their strings with spaces.
std::string readValue(const fs::path& file)
{
    std::ifstream in(file);
    std::string value;
    std::getline(in, value);
    while (!value.empty() && std::isspace(static_cast<unsigned char>(value.back())))
        value.pop_back();
    return value;
}

std::string linkTargetName(const fs::path& link)
{
    std::error_code ec;
    const fs::path target = fs::read_symlink(link, ec);
    return ec ? std::string() : target.filename().string();
}

// The device a tty's driver is worth naming for. Since Linux 6.5 the serial
// core puts a port and a controller device of its own, bound to its drivers
// "port" and "ctrl", between a UART's tty and the UART itself.
fs::path hardwareOf(fs::path device)
{
    while (linkTargetName(device / "subsystem") == "serial-base" && device != device.parent_path())
        device = device.parent_path();
    return device;
}

// The USB device a tty belongs to: the nearest directory at or above the
// tty's device that holds a vendor id. The USB interface lies in between,
// and for usb-serial adapters the adapter port's own directory below that.
std::optional<fs::path> usbDeviceAbove(fs::path dir)
{
    for (;;) {
        std::error_code ec;
        if (fs::exists(dir / "idVendor", ec))
            return dir;
        if (dir == dir.parent_path())
            return std::nullopt;
        dir = dir.parent_path();
    }
}

void addUsbDetails(const fs::path& usbDevice, PortDetails& details)
{
    const std::string vendor = readValue(usbDevice / "idVendor");
    const std::string product = readValue(usbDevice / "idProduct");
    if (!vendor.empty() && !product.empty())
        details.usbId = vendor + ":" + product;
    details.manufacturer = readValue(usbDevice / "manufacturer");
    details.product = readValue(usbDevice / "product");
    details.serialNumber = readValue(usbDevice / "serial");
}

// The pid an entry of the process table stands for; none for the other
// entries there ("self" is a link to one of the pids).
std::optional<int> pidOf(std::string_view name)
{
    int pid = 0;
    const char* end = name.data() + name.size();
    const auto [stop, error] = std::from_chars(name.data(), end, pid);
    if (error != std::errc() || stop != end || pid <= 0)
        return std::nullopt;
    return pid;
}

// Whether one of the descriptors listed in fdDir is the file target. stat
// follows each descriptor's link to the open file itself, so the file is
// recognised whatever path it was opened by.
bool holdsFile(const fs::path& fdDir, const struct stat& target)
{
    std::error_code ec;
    for (fs::directory_iterator it(fdDir, ec), end; !ec && it != end; it.increment(ec)) {
        struct stat open {};
        if (::stat(it->path().c_str(), &open) == 0 && open.st_dev == target.st_dev
            && open.st_ino == target.st_ino)
            return true;
    }
    return false;
}

std::string groupName(gid_t gid)
{
    std::string buffer(4096, '\0');
    group entry{};
    group* found = nullptr;
    int result = 0;
    // Groups with long member lists need more room than the usual size.
    while ((result = ::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found)) == ERANGE
           && buffer.size() < (1u << 20))
        buffer.resize(buffer.size() * 2);
    return result == 0 && found != nullptr ? std::string(found->gr_name) : std::string();
}

} // namespace

PortDetails describePort(const std::string& devicePath, const std::string& sysfsTty)
{
    PortDetails details;
    std::error_code ec;
    details.kernelName = fs::weakly_canonical(devicePath, ec).filename().string();
    if (details.kernelName.empty())
        return details;
    const fs::path device = fs::canonical(fs::path(sysfsTty) / details.kernelName / "device", ec);
    if (ec)
        return details;
    details.driver = linkTargetName(hardwareOf(device) / "driver");
    if (const std::optional<fs::path> usbDevice = usbDeviceAbove(device))
        addUsbDetails(*usbDevice, details);
    return details;
}

std::vector<PortHolder> findPortHolders(const std::string& devicePath, const std::string& procRoot)
{
    struct stat device {};
    if (::stat(devicePath.c_str(), &device) != 0)
        return {};
    std::vector<PortHolder> holders;
    std::error_code ec;
    for (fs::directory_iterator it(procRoot, ec), end; !ec && it != end; it.increment(ec)) {
        const std::optional<int> pid = pidOf(it->path().filename().native());
        if (pid && holdsFile(it->path() / "fd", device))
            holders.push_back({*pid, readValue(it->path() / "comm")});
    }
    std::sort(holders.begin(), holders.end(),
              [](const PortHolder& a, const PortHolder& b) { return a.pid < b.pid; });
    return holders;
}

std::string deviceGroup(const std::string& devicePath)
{
    struct stat device {};
    if (::stat(devicePath.c_str(), &device) != 0)
        return {};
    return groupName(device.st_gid);
}

bool inDeviceGroup(const std::string& devicePath)
{
    struct stat device {};
    if (::stat(devicePath.c_str(), &device) != 0)
        return false;
    if (device.st_gid == ::getegid())
        return true;
    const int size = ::getgroups(0, nullptr);
    if (size <= 0)
        return false;
    std::vector<gid_t> groups(static_cast<std::size_t>(size));
    const int count = ::getgroups(size, groups.data());
    if (count < 0)
        return false;
    groups.resize(static_cast<std::size_t>(count));
    return std::find(groups.begin(), groups.end(), device.st_gid) != groups.end();
}

} // namespace korv
