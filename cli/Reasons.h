#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "cli/Flasher.h"
#include "serial/PortDetails.h"
#include "serial/SerialDevice.h"

namespace korv::cli {

// What the user reads when a step fails: what happened, on which port, and
// what to do about it. Device bytes in them are already made printable.

// Why the port could not be opened. probe: what a fresh exclusive open of
// the device found right after the failed one; holders: other processes
// that have it open; group: the device file's group, and whether we belong to it.
struct OpenFailure {
    std::string port;  // as the user named it
    std::string path;
    SerialError probe = SerialError::Io;
    std::vector<PortHolder> holders;
    std::string group;
    bool inGroup = false;
};
std::string openFailureReason(const OpenFailure& failure);

// A port name the port map does not have.
std::string noSuchPortReason(const std::string& port);

std::string notIdentifiedReason(const std::string& port, std::chrono::milliseconds timeout,
                                const std::string& lastReplyPrintable);

std::string transferFailureReason(const TransferFailure& failure);

// The device sent its finished reply after `acknowledged` blocks, fewer than all.
std::string finishedEarlyReason(const Progress& acknowledged);

// "held by minicom (pid 1234), screen (pid 99)"; empty for no holders.
std::string holdersText(const std::vector<PortHolder>& holders);

// The hint for a device the user may not open.
std::string groupHint(const std::string& group);

} // namespace korv::cli
