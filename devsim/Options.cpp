#include "devsim/Options.h"

#include <charconv>

namespace korv::devsim {
namespace {

constexpr int kMaxPort = 255;
constexpr int kMaxBlockDelayMs = 60000;

// Walks the arguments and keeps the first usage error; once there is one,
// the other calls do nothing, so a branch may go on as if all were well.
class ArgumentReader {
public:
    explicit ArgumentReader(const std::vector<std::string_view>& args) : args_(args) {}

    // Moves to the next option; false at the end.
    bool next() {
        if (next_ >= args_.size()) {
            return false;
        }
        option_ = args_[next_++];
        return true;
    }
    std::string_view option() const { return option_; }

    std::string_view value() {
        if (failed()) {
            return {};
        }
        if (next_ >= args_.size()) {
            fail(std::string(option_) + " needs a value");
            return {};
        }
        return args_[next_++];
    }

    // A whole decimal number from low to high.
    int number(int low, int high, const char* what) {
        const std::string_view text = value();
        if (failed()) {
            return low;
        }
        int number = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
        if (error != std::errc() || end != text.data() + text.size() || number < low ||
            number > high) {
            fail(std::string(option_) + " takes " + what + " from " + std::to_string(low) +
                 " to " + std::to_string(high));
            return low;
        }
        return number;
    }
    int block() { return number(0, kBlockCount - 1, "a block number"); }

    // The option is a fault; only one may be given.
    void fault() {
        if (!fault_.empty()) {
            fail("one fault at a time: " + fault_ + " and " + std::string(option_) +
                 " were both given");
        }
        fault_ = option_;
    }

    void fail(std::string why) {
        if (!failed()) {
            error_ = std::move(why);
        }
    }
    bool failed() const { return !error_.empty(); }
    const std::string& error() const { return error_; }

private:
    const std::vector<std::string_view>& args_;
    std::size_t next_ = 0;
    std::string_view option_;
    std::string fault_;
    std::string error_;
};

ParsedArguments outcome(ParsedArguments::Outcome outcome, Options options = {},
                        std::string error = {}) {
    return ParsedArguments{outcome, std::move(options), std::move(error)};
}

} // namespace

const char* const kUsage =
    "usage: korvantemis-devsim [options]\n"
    "\n"
    "Opens a pseudo-terminal and answers there as the device's bootloader: \"VERS\"\n"
    "gets the identity, each 256-byte block its CRC-16/MODBUS, the last block the\n"
    "value and \"FZ\", and \"PUSK\" completes the update.\n"
    "\n"
    "The terminal is published as COM<n> in a port map, the directory the program\n"
    "reads through KORVANTEMIS_PORT_MAP: the one given with --port-map, else a new\n"
    "temporary one, unless --link alone is given. It is removed again at exit, with\n"
    "the directory when the emulator made it. The first lines on standard output\n"
    "say where everything is:\n"
    "  device /dev/pts/N\n"
    "  port-map DIR        (\"port-map -\" without a port map)\n"
    "  port COM<n>         (\"port -\" without a port map)\n"
    "\n"
    "After each update (\"PUSK\" arrived) and at exit, the emulator reports what it\n"
    "received on standard error, and with --report as one JSON object:\n"
    "  {\"identified\":true,\"bytes\":130048,\"blocks\":508,\"sha256\":\"<hex>\",\n"
    "   \"pusk\":true,\"seconds\":34.081,\n"
    "   \"turnaround_us\":{\"blocks\":507,\"median\":131.0,\"p99\":402.5,\"max\":911.2}}\n"
    "\"seconds\" runs from the first image byte to \"PUSK\"; it is null without \"PUSK\".\n"
    "\"turnaround_us\" is the program's answer time in microseconds: from each\n"
    "acknowledgement written to the next block's first byte read.\n"
    "\"VERS\" starts a new update.\n"
    "\n"
    "  --port-map DIR     publish the terminal in DIR, made if missing\n"
    "  --port N           as COM<N>, N from 1 to 255 (default 1)\n"
    "  --link PATH        make PATH a symbolic link to the pseudo-terminal\n"
    "  --name NAME        device name in the identity reply (default KV-12)\n"
    "  --firmware-version VERSION\n"
    "                     firmware version in the identity reply (default 8.6)\n"
    "  --save FILE        write the received image to FILE after the last block\n"
    "  --report FILE      write the report to FILE, replacing it each time\n"
    "  --pace             keep the time of the line at 38462 bit/s, both directions\n"
    "                     at once: a reply leaves once the bytes it answers have\n"
    "                     arrived and reaches the program after its own line time\n"
    "  --block-delay MS   wait MS milliseconds before each block's reply, as the\n"
    "                     device does while writing its flash\n"
    "  --once             exit after the first completed update\n"
    "  --help             show this text\n"
    "  --version          show the emulator's own version\n"
    "\n"
    "Faults, one at a time (blocks count from 0 to 507):\n"
    "  --wrong-crc-at N   answer block N with a wrong value\n"
    "  --silent-at N      answer nothing from block N on\n"
    "  --hangup-at N      close the pseudo-terminal when block N has arrived\n"
    "  --split-replies    send each reply in two writes, 20 ms apart\n"
    "  --split-ack-at N   send block N's value as two one-byte writes, 20 ms apart\n"
    "  --junk-before-ack-at N\n"
    "                     send a zero byte on its own 20 ms before block N's reply\n"
    "  --split-finished   send the finished reply's value, then \"FZ\" 20 ms later\n"
    "  --finish-at N      answer block N with the finished reply, as if it were the\n"
    "                     last, and wait for \"PUSK\"\n"
    "  --no-identity      leave \"VERS\" unanswered\n"
    "  --split-identity   send the identity in two writes 20 ms apart, cut after\n"
    "                     \"KORVA\"\n";

ParsedArguments parseArguments(const std::vector<std::string_view>& args) {
    using Outcome = ParsedArguments::Outcome;
    Options options;
    ArgumentReader in(args);
    while (in.next()) {
        const std::string_view option = in.option();
        if (option == "--help") {
            return outcome(Outcome::Help);
        } else if (option == "--version") {
            return outcome(Outcome::Version);
        } else if (option == "--link") {
            options.link = in.value();
        } else if (option == "--port-map") {
            options.portMap = in.value();
            if (options.portMap.empty()) {
                in.fail("--port-map needs a directory");
            }
        } else if (option == "--port") {
            options.port = in.number(1, kMaxPort, "a port number");
        } else if (option == "--name") {
            options.device.name = in.value();
        } else if (option == "--firmware-version") {
            options.device.version = in.value();
        } else if (option == "--save") {
            options.save = in.value();
        } else if (option == "--report") {
            options.report = in.value();
        } else if (option == "--pace") {
            options.pace = true;
        } else if (option == "--block-delay") {
            options.blockDelay =
                std::chrono::milliseconds(in.number(0, kMaxBlockDelayMs, "milliseconds"));
        } else if (option == "--once") {
            options.once = true;
        } else if (option == "--wrong-crc-at") {
            in.fault();
            options.device.wrongCrcAt = in.block();
        } else if (option == "--silent-at") {
            in.fault();
            options.device.silentAt = in.block();
        } else if (option == "--hangup-at") {
            in.fault();
            options.device.hangupAt = in.block();
        } else if (option == "--split-replies") {
            in.fault();
            options.device.splitReplies = true;
        } else if (option == "--split-ack-at") {
            in.fault();
            options.device.splitAckAt = in.block();
        } else if (option == "--junk-before-ack-at") {
            in.fault();
            options.device.junkBeforeAckAt = in.block();
        } else if (option == "--split-finished") {
            in.fault();
            options.device.splitFinished = true;
        } else if (option == "--finish-at") {
            in.fault();
            options.device.finishAt = in.block();
        } else if (option == "--no-identity") {
            in.fault();
            options.device.noIdentity = true;
        } else if (option == "--split-identity") {
            in.fault();
            options.device.splitIdentity = true;
        } else {
            in.fail("unknown option " + std::string(option));
        }
        if (in.failed()) {
            return outcome(Outcome::UsageError, {}, in.error());
        }
    }
    if (options.port && !options.link.empty() && options.portMap.empty()) {
        return outcome(Outcome::UsageError, {},
                       "--port names a port in a port map: give --port-map as well, or leave out "
                       "--link");
    }
    return outcome(Outcome::Run, std::move(options));
}

} // namespace korv::devsim
