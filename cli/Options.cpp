#include "cli/Options.h"

#include <charconv>
#include <cmath>

#include "serial/PortName.h"

namespace korv::cli {
namespace {

constexpr double kLongestTimeoutSeconds = 3600;

ParsedOptions failure(std::string why)
{
    return {std::nullopt, std::move(why)};
}

// Seconds, as a plain decimal number greater than zero.
std::optional<std::chrono::milliseconds> parseSeconds(std::string_view text)
{
    double seconds = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(seconds)
        || seconds <= 0 || seconds > kLongestTimeoutSeconds)
        return std::nullopt;
    return std::chrono::milliseconds(static_cast<long long>(std::ceil(seconds * 1000)));
}

} // namespace

const char* const kUsageText =
    "usage: korvantemis-flash [--identify] [--json] [--timeout SECONDS] PORT\n"
    "       korvantemis-flash [--identify] [--json] [--timeout SECONDS] --device PATH\n"
    "       korvantemis-flash --list\n"
    "\n"
    "Writes the firmware image this program carries (130048 bytes) into a\n"
    "Korvantemis device through its bootloader, over a serial port at 38462 bit/s,\n"
    "8N1: identifies the device, writes 508 blocks of 256 bytes, each checked by\n"
    "the device's CRC-16/MODBUS, then tells the device to start the new firmware.\n"
    "\n"
    "  PORT              a port name, COM1 to COM255, as --list shows them;\n"
    "                    a path starting with / is taken as --device PATH\n"
    "  --device PATH     the serial device at PATH, such as /dev/ttyUSB0\n"
    "  --list            list the serial ports, what they are and whether they are free\n"
    "  --identify        only identify the device; write nothing\n"
    "  --timeout SECONDS how long to wait for the device to identify (default 3)\n"
    "  --json            print one JSON summary line on standard output; messages\n"
    "                    and progress go to standard error\n"
    "  --help            show this text\n"
    "  --version         show the program's version\n"
    "\n"
    "Exit status:\n"
    "  0    updated (with --identify: identified)\n"
    "  1    transfer failed: the device rejected a block or stopped answering\n"
    "  2    usage error\n"
    "  3    the port could not be opened\n"
    "  4    the device did not identify\n"
    "  5    the device declared the update finished before the last block; it was\n"
    "       not told to start the incomplete image\n"
    "  6    standard output could not be written (the run itself succeeded)\n"
    "  130  interrupted (Ctrl-C); the port is closed and the device not started\n"
    "\n"
    "Port names follow a fixed rule: ttyS<k> is COM<1+k>, ttyUSB<k> COM<33+k>,\n"
    "ttyACM<k> COM<65+k> (the README has the whole table). KORVANTEMIS_PORT_MAP\n"
    "names a directory of COM<n> links to use instead.\n";

ParsedOptions parseOptions(const std::vector<std::string_view>& args)
{
    Options options;
    bool identify = false;
    bool list = false;
    bool timeoutGiven = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string_view arg = args[i];
        std::optional<std::string_view> attached;  // the value in "--option=value"
        if (arg.starts_with("--")) {
            if (const std::size_t eq = arg.find('='); eq != std::string_view::npos) {
                attached = arg.substr(eq + 1);
                arg = arg.substr(0, eq);
            }
        }
        const auto value = [&]() -> std::optional<std::string_view> {
            if (attached)
                return attached;
            if (i + 1 < args.size())
                return args[++i];
            return std::nullopt;
        };
        const bool takesValue = arg == "--device" || arg == "--timeout";
        if (attached && !takesValue)
            return failure(std::string(arg) + " takes no value");

        if (arg == "--help" || arg == "-h") {
            options.action = Options::Action::Help;
            return {options, {}};
        } else if (arg == "--version") {
            options.action = Options::Action::Version;
            return {options, {}};
        } else if (arg == "--list") {
            list = true;
        } else if (arg == "--identify") {
            identify = true;
        } else if (arg == "--json") {
            options.json = true;
        } else if (arg == "--device") {
            const auto path = value();
            if (!path || path->empty())
                return failure("--device needs a device path");
            if (!options.device.empty() || !options.port.empty())
                return failure("give one port or one device");
            options.device = std::string(*path);
        } else if (arg == "--timeout") {
            const auto text = value();
            const auto timeout = text ? parseSeconds(*text) : std::nullopt;
            if (!timeout)
                return failure("--timeout needs a number of seconds greater than 0, at most 3600");
            options.identifyTimeout = *timeout;
            timeoutGiven = true;
        } else if (arg.starts_with("-") && arg != "-") {
            return failure("unknown option " + std::string(arg));
        } else {
            if (!options.device.empty() || !options.port.empty())
                return failure("give one port or one device");
            if (arg.starts_with("/"))
                options.device = std::string(arg);
            else if (exactPortNumber(arg) != 0)
                options.port = std::string(arg);
            else
                return failure("not a port name: " + std::string(arg)
                               + " (COM1 to COM255; --list shows the ports, --device takes a path)");
        }
    }
    if (list) {
        if (identify || options.json || timeoutGiven || !options.port.empty() || !options.device.empty())
            return failure("--list takes no port and no other option");
        options.action = Options::Action::List;
        return {options, {}};
    }
    if (options.port.empty() && options.device.empty())
        return failure("no port given (--list shows the ports)");
    options.action = identify ? Options::Action::Identify : Options::Action::Flash;
    return {options, {}};
}

} // namespace korv::cli
