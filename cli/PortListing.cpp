#include "cli/PortListing.h"

#include <algorithm>
#include <unistd.h>

#include "cli/Reasons.h"
#include "serial/PortName.h"

namespace korv::cli {
namespace {

constexpr std::size_t kNameWidth = 7;  // "COM255" and a space

std::string stateText(const ListedPort& port)
{
    switch (port.state) {
    case SerialError::None: return "free";
    case SerialError::Busy: {
        const std::string held = holdersText(port.holders);
        return held.empty() ? "busy" : "busy, " + held;
    }
    case SerialError::AccessDenied: return "not permitted: " + groupHint(port.group);
    case SerialError::NotFound: return "missing";
    case SerialError::NotATerminal: return "not a serial port";
    default: return "unavailable";
    }
}

// "0403:6001 FTDI FT232R USB UART, serial A50285BI (ftdi_sio)"
std::string whatItIs(const PortDetails& d)
{
    std::string text;
    const auto add = [&](const std::string& part) {
        if (part.empty())
            return;
        if (!text.empty())
            text += ' ';
        text += part;
    };
    add(d.usbId);
    add(d.manufacturer);
    add(d.product);
    if (!d.serialNumber.empty())
        text += (text.empty() ? "serial " : ", serial ") + d.serialNumber;
    if (!d.driver.empty())
        add("(" + d.driver + ")");
    return text;
}

std::string padded(std::string text, std::size_t width)
{
    if (text.size() < width)
        text.append(width - text.size(), ' ');
    return text;
}

} // namespace

std::vector<PortHolder> otherHolders(const std::string& path)
{
    std::vector<PortHolder> holders = findPortHolders(path);
    std::erase_if(holders, [](const PortHolder& h) { return h.pid == getpid(); });
    return holders;
}

std::vector<ListedPort> listPorts(const PortMap& ports)
{
    std::vector<ListedPort> listed;
    for (const auto& [number, path] : ports.inListingOrder()) {
        ListedPort port{portNameOf(number), path, describePort(path), probeSerialDevice(path), {}, {}};
        if (port.state == SerialError::Busy)
            port.holders = otherHolders(path);
        if (port.state == SerialError::AccessDenied)
            port.group = deviceGroup(path);
        listed.push_back(std::move(port));
    }
    return listed;
}

std::string listingText(const std::vector<ListedPort>& ports)
{
    if (ports.empty())
        return "No serial ports found.\n";
    std::size_t pathWidth = 0;
    for (const ListedPort& port : ports)
        pathWidth = std::max(pathWidth, port.path.size());
    std::string text;
    for (const ListedPort& port : ports) {
        text += padded(port.name, kNameWidth) + padded(port.path, pathWidth + 2) + stateText(port) + "\n";
        if (const std::string what = whatItIs(port.details); !what.empty())
            text += std::string(kNameWidth, ' ') + what + "\n";
    }
    return text;
}

} // namespace korv::cli
