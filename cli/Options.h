#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korv::cli {

struct Options {
    enum class Action { Flash, Identify, List, Help, Version };
    Action action = Action::Flash;
    std::string port;    // "COM<n>", or empty when a device path is given
    std::string device;  // a device path, or empty when a port name is given
    std::chrono::milliseconds identifyTimeout{3000};
    bool json = false;
};

struct ParsedOptions {
    std::optional<Options> options;  // empty on a usage error
    std::string error;               // why, for the user
};

// The arguments after the program's name.
ParsedOptions parseOptions(const std::vector<std::string_view>& args);

extern const char* const kUsageText;

} // namespace korv::cli
