#pragma once

#include <string>
#include <vector>

namespace korv {

// What the system says about the device behind a port, for a listing of
// ports. Each field is empty when unknown or unreadable. The initialisers let
// a partial description be written {.kernelName = "ttyS0"} without warnings.
struct PortDetails {
    std::string kernelName{};    // "ttyUSB0": the last part of the resolved device path
    std::string driver{};        // "ftdi_sio", "cdc_acm", "serial8250": the UART's or adapter's own
    std::string usbId{};         // "0403:6001": vendor:product, as the system writes them
    std::string manufacturer{};  // these three as the USB device reports them
    std::string product{};
    std::string serialNumber{};

    friend bool operator==(const PortDetails&, const PortDetails&) = default;
};

// The device at devicePath, symbolic links resolved first (port map entries
// are usually links). sysfsTty is where the kernel lists its ttys, normally
// /sys/class/tty.
PortDetails describePort(const std::string& devicePath, const std::string& sysfsTty = "/sys/class/tty");

// A process that has a device open.
struct PortHolder {
    int pid = 0;
    std::string command;  // the process's short name ("minicom"), empty when unknown

    friend bool operator==(const PortHolder&, const PortHolder&) = default;
};

// The processes, in ascending pid, that have the device at devicePath open,
// the calling one included: found by looking through every process's open
// files under procRoot (normally /proc). Processes whose open files cannot be
// read are left out, so without privileges the list may be incomplete. None
// when devicePath does not exist.
std::vector<PortHolder> findPortHolders(const std::string& devicePath, const std::string& procRoot = "/proc");

// The name of the group owning the device file ("dialout"), empty when unknown.
std::string deviceGroup(const std::string& devicePath);
// Whether the calling process belongs to that group, as its primary or a
// supplementary group. A group joined since the login does not count yet.
bool inDeviceGroup(const std::string& devicePath);

} // namespace korv
