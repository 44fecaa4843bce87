#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "devsim/DeviceModel.h"

namespace korv::devsim {

// What the emulator program is asked to do.
struct Options {
    DeviceOptions device;
    std::string link;
    std::string portMap;
    std::optional<int> port;
    std::string save;
    std::string report;
    std::chrono::milliseconds blockDelay{0};
    bool pace = false;
    bool once = false;
};

struct ParsedArguments {
    enum class Outcome { Run, Help, Version, UsageError };
    Outcome outcome = Outcome::Run;
    Options options;    // meaningful with Run
    std::string error;  // why, for the user, with UsageError
};

// The arguments after the program's name.
ParsedArguments parseArguments(const std::vector<std::string_view>& args);

extern const char* const kUsage;

} // namespace korv::devsim
