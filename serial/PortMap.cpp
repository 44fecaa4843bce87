#include "serial/PortMap.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

#include "serial/PortName.h"

namespace korv {
namespace {

namespace fs = std::filesystem;

// Port numbers of the kernel's serial devices. A number depends only on the
// device's kernel name, so it stays the same across plugging and reboots:
// ttyS<k> -> COM<1+k>, ttyUSB<k> -> COM<33+k>, ttyACM<k> -> COM<65+k>, then
// rarer kinds 16 apiece in this fixed order. A device past its kind's block,
// or of a kind not listed, gets no number (KORVANTEMIS_PORT_MAP can name it).
struct NumberBlock {
    std::string_view kernelPrefix;
    int firstPort;
    int size;
};
constexpr NumberBlock kNumberBlocks[] = {
    {"ttyS", 1, 32},        // on-board and PCI UARTs
    {"ttyUSB", 33, 32},     // USB serial adapters (FTDI, CH34x, CP210x, PL2303)
    {"ttyACM", 65, 32},     // USB CDC ACM devices
    {"ttyAMA", 97, 16},     // ARM PL011 UARTs (Raspberry Pi)
    {"ttyXRUSB", 113, 16},  // Exar USB UARTs
    {"ttymxc", 129, 16},    // NXP i.MX UARTs
    {"ttySC", 145, 16},     // SC16IS7xx UARTs on SPI or I2C
    {"ttyTHS", 161, 16},    // NVIDIA Tegra high-speed UARTs
    {"ttyMSM", 177, 16},    // Qualcomm UARTs
};

// The k of "<prefix><k>", k in decimal without leading zeros; -1 otherwise.
int kernelIndex(std::string_view name, std::string_view prefix)
{
    if (name.size() <= prefix.size() || name.substr(0, prefix.size()) != prefix)
        return -1;
    const std::string_view digits = name.substr(prefix.size());
    if (digits.size() > 3 || (digits.size() > 1 && digits[0] == '0'))
        return -1;
    int k = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return -1;
        k = k * 10 + (c - '0');
    }
    return k;
}

int portNumberOfKernelName(std::string_view name)
{
    for (const NumberBlock& block : kNumberBlocks) {
        const int k = kernelIndex(name, block.kernelPrefix);
        if (k >= 0 && k < block.size)
            return block.firstPort + k;
    }
    return 0;
}

// Entry names of dir in ascending byte order; none when it cannot be read.
std::vector<std::string> sortedNames(const std::string& dir)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        names.push_back(it->path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

PortMap PortMap::fromDirectory(const std::string& dir)
{
    std::map<int, std::string> devices;
    // Sorted first, so that of two spellings of one number ("COM3", "com3")
    // the same one wins on every run.
    for (const std::string& name : sortedNames(dir)) {
        if (const int number = exactPortNumber(name))
            devices.emplace(number, (fs::path(dir) / name).string());
    }
    return PortMap(std::move(devices));
}

PortMap PortMap::fromSysfs(const std::string& sysfsTty, const std::string& devDir)
{
    std::map<int, std::string> devices;
    for (const std::string& name : sortedNames(sysfsTty)) {
        // Only ttys backed by hardware have a device link; consoles and
        // pseudo-terminals have none.
        std::error_code ec;
        if (!fs::exists(fs::symlink_status(fs::path(sysfsTty) / name / "device", ec)))
            continue;
        if (const int number = portNumberOfKernelName(name))
            devices.emplace(number, (fs::path(devDir) / name).string());
    }
    return PortMap(std::move(devices));
}

PortMap::PortMap(std::map<int, std::string> devices, const std::vector<int>& listingOrder)
    : devices_(std::move(devices)), ordered_(true)
{
    for (const int number : listingOrder) {
        if (devices_.count(number) != 0 && std::find(order_.begin(), order_.end(), number) == order_.end())
            order_.push_back(number);
    }
}

std::vector<std::pair<int, std::string>> PortMap::inListingOrder() const
{
    if (!ordered_)
        return {devices_.begin(), devices_.end()};
    std::vector<std::pair<int, std::string>> listed;
    for (const int number : order_)
        listed.emplace_back(number, devices_.at(number));
    return listed;
}

std::optional<std::string> PortMap::devicePath(int number) const
{
    const auto it = devices_.find(number);
    if (it == devices_.end())
        return std::nullopt;
    return it->second;
}

std::optional<std::string> PortMap::deviceFor(std::string_view portName) const
{
    return devicePath(exactPortNumber(portName));
}

} // namespace korv
