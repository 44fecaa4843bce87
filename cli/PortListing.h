#pragma once

#include <string>
#include <vector>

#include "serial/PortDetails.h"
#include "serial/PortMap.h"
#include "serial/SerialDevice.h"

namespace korv::cli {

// One port as --list shows it.
struct ListedPort {
    std::string name;  // "COM33"
    std::string path;
    PortDetails details;
    SerialError state = SerialError::None;  // what an exclusive probe-open found
    std::vector<PortHolder> holders;        // when busy: the other programs that have it open
    std::string group;                      // when not permitted: the device's group
};

// The processes other than this one that have the device open.
std::vector<PortHolder> otherHolders(const std::string& path);

// Looks at every port of the map: what it is, and whether it is free.
std::vector<ListedPort> listPorts(const PortMap& ports);

// The listing: per port a line with its name, path and state, then an
// indented line with what the system says about it, when it says anything;
// a note when there are no ports.
std::string listingText(const std::vector<ListedPort>& ports);

} // namespace korv::cli
