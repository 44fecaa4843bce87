// The flasher's option parsing over argument lists made of its own options,
// their values, port names, paths and noise. What it accepts must be what was
// asked: one port named exactly COM1 to COM255 or one device path given on
// the command line, a timeout from above 0 to 3600 s, and --list alone.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Require.h"
#include "cli/Options.h"
#include "serial/PortName.h"

using korv::cli::Options;
using korv::fuzz::require;

namespace {

std::string argument(FuzzedDataProvider& input)
{
    static const char* const words[] = {"--identify", "--json", "--list", "--help", "-h", "--version", "--device",
                                        "--timeout", "--device=", "--timeout=", "COM", "com", "/dev/tty",
                                        "-", "--", "--json=", "3", "0.5", "1e3", "3601", "nan"};
    std::string arg = input.ConsumeBool() ? words[input.ConsumeIntegralInRange<std::size_t>(0, std::size(words) - 1)]
                                          : std::string();
    return arg + input.ConsumeRandomLengthString(8);
}

bool given(const std::vector<std::string>& args, const std::string& what)
{
    return std::find(args.begin(), args.end(), what) != args.end();
}

// The arguments that are not the value of a "--device" or "--timeout" before them.
std::vector<std::string> notValues(const std::vector<std::string>& args)
{
    std::vector<std::string> flags;
    for (std::size_t i = 0; i < args.size(); ++i) {
        flags.push_back(args[i]);
        if (args[i] == "--device" || args[i] == "--timeout")
            ++i;
    }
    return flags;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    std::vector<std::string> args;
    while (input.remaining_bytes() > 0 && args.size() < 8)
        args.push_back(argument(input));
    const std::vector<std::string_view> views(args.begin(), args.end());
    const korv::cli::ParsedOptions parsed = korv::cli::parseOptions(views);

    require(parsed.options.has_value() == parsed.error.empty(), "a usage error, and only one, says why");
    if (!parsed.options)
        return 0;
    const Options& o = *parsed.options;
    const std::vector<std::string> flags = notValues(args);
    // --help and --version end the parsing where they stand: the first of them decides.
    const auto first = std::find_if(flags.begin(), flags.end(), [](const std::string& f) {
        return f == "--help" || f == "-h" || f == "--version";
    });
    if (first != flags.end()) {
        require(o.action == (*first == "--version" ? Options::Action::Version : Options::Action::Help),
                "help or version exactly when asked for, the first of them");
        return 0;
    }
    require(o.action != Options::Action::Help && o.action != Options::Action::Version,
            "help or version only when asked for");
    if (o.action == Options::Action::List) {
        require(o.port.empty() && o.device.empty() && !o.json && given(flags, "--list"),
                "--list takes no port and no other option");
        return 0;
    }
    require(o.port.empty() != o.device.empty(), "exactly one port or one device");
    if (!o.port.empty())
        require(korv::exactPortNumber(o.port) != 0 && given(args, o.port), "a port is a name given exactly");
    if (!o.device.empty())
        require(given(args, o.device) || given(args, "--device=" + o.device), "a device is a path given");
    require(o.identifyTimeout.count() > 0 && o.identifyTimeout.count() <= 3600000,
            "the timeout lies above 0 and at most 3600 s");
    require(o.action == (given(flags, "--identify") ? Options::Action::Identify : Options::Action::Flash),
            "identify only when asked for");
    require(o.json == given(flags, "--json"), "JSON only when asked for");
    return 0;
}
