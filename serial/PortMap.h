#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace korv {

// Port names on this system: "COM<n>" (n = 1..255) stands for one serial
// device. Built once at start and used by both discovery and open, so every
// listed name opens the device it was listed for.
class PortMap {
public:
    PortMap() = default;
    explicit PortMap(std::map<int, std::string> devices) : devices_(std::move(devices)) {}
    // With the order in which the system lists the ports (Windows' port
    // table has one of its own); numbers not in devices, and repeats, are left out.
    PortMap(std::map<int, std::string> devices, const std::vector<int>& listingOrder);

    // The map for this machine: the directory named by KORVANTEMIS_PORT_MAP
    // when set, else the serial devices under /sys/class/tty.
    static PortMap fromSystem();
    // Entries named COM<n> (any letter case) in dir, each a device path or a
    // symbolic link to one. A missing or unreadable directory gives an empty map.
    static PortMap fromDirectory(const std::string& dir);
    // The kernel's serial devices under sysfsTty (normally /sys/class/tty)
    // that have a device link, numbered by the fixed rule in the README.
    static PortMap fromSysfs(const std::string& sysfsTty, const std::string& devDir = "/dev");

    std::optional<std::string> devicePath(int number) const;
    // The device a port name stands for: the name must be exactly "COM<n>" in
    // any letter case, without leading zeros ("COM3X" and "COM03" stand for none).
    std::optional<std::string> deviceFor(std::string_view portName) const;
    // In ascending port number.
    const std::map<int, std::string>& entries() const { return devices_; }
    // In the order the system lists them, for discovery and listings:
    // ascending port number unless the map was given an order.
    std::vector<std::pair<int, std::string>> inListingOrder() const;

private:
    std::map<int, std::string> devices_;
    std::vector<int> order_;
    bool ordered_ = false;  // else listed in ascending port number
};

} // namespace korv
