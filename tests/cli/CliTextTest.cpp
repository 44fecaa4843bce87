// What the flasher makes of its arguments and what it prints.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "cli/Options.h"
#include "cli/PortListing.h"
#include "cli/ProgressDisplay.h"
#include "cli/Reasons.h"
#include "cli/Summary.h"
#include "cli/TerminalText.h"

namespace korv::cli {
namespace {

using namespace std::chrono_literals;

ParsedOptions parse(const std::vector<std::string_view>& args)
{
    return parseOptions(args);
}

struct GoodArgs {
    std::vector<std::string_view> args;
    Options::Action action;
    std::string port;
    std::string device;
    std::chrono::milliseconds timeout;
    bool json;
};

TEST(FlasherOptions, AcceptedCommandLines)
{
    const GoodArgs cases[] = {
        {{"COM7"}, Options::Action::Flash, "COM7", "", 3000ms, false},
        {{"com12", "--json"}, Options::Action::Flash, "com12", "", 3000ms, true},
        {{"--identify", "COM1"}, Options::Action::Identify, "COM1", "", 3000ms, false},
        {{"--device", "/dev/ttyUSB0"}, Options::Action::Flash, "", "/dev/ttyUSB0", 3000ms, false},
        {{"--device=/dev/ttyACM0", "--timeout=0.25"}, Options::Action::Flash, "", "/dev/ttyACM0", 250ms, false},
        {{"/dev/ttyS4", "--timeout", "10"}, Options::Action::Flash, "", "/dev/ttyS4", 10000ms, false},
        {{"--list"}, Options::Action::List, "", "", 3000ms, false},
        {{"COM3", "--help"}, Options::Action::Help, "COM3", "", 3000ms, false},
        {{"--version", "COM3"}, Options::Action::Version, "", "", 3000ms, false},
    };
    for (const GoodArgs& c : cases) {
        const ParsedOptions parsed = parse(c.args);
        ASSERT_TRUE(parsed.options) << parsed.error;
        EXPECT_EQ(parsed.options->action, c.action);
        EXPECT_EQ(parsed.options->port, c.port);
        EXPECT_EQ(parsed.options->device, c.device);
        EXPECT_EQ(parsed.options->identifyTimeout, c.timeout);
        EXPECT_EQ(parsed.options->json, c.json);
    }
}

TEST(FlasherOptions, UsageErrorsSayWhatIsWrong)
{
    const std::pair<std::vector<std::string_view>, std::string> cases[] = {
        {{}, "no port given"},
        {{"COM0"}, "not a port name: COM0"},
        {{"COM256"}, "not a port name"},
        {{"COM03"}, "not a port name"},
        {{"ttyUSB0"}, "not a port name"},
        {{"COM1", "COM2"}, "give one port or one device"},
        {{"COM1", "--device", "/dev/ttyS0"}, "give one port or one device"},
        {{"--device"}, "--device needs a device path"},
        {{"COM1", "--timeout", "0"}, "--timeout needs"},
        {{"COM1", "--timeout", "-1"}, "--timeout needs"},
        {{"COM1", "--timeout", "3s"}, "--timeout needs"},
        {{"COM1", "--timeout", "nan"}, "--timeout needs"},
        {{"COM1", "--timeout"}, "--timeout needs"},
        {{"COM1", "--json=yes"}, "--json takes no value"},
        {{"--list", "COM1"}, "--list takes no port"},
        {{"--list", "--json"}, "--list takes no port"},
        {{"COM1", "--force"}, "unknown option --force"},
    };
    for (const auto& [args, message] : cases) {
        const ParsedOptions parsed = parse(args);
        EXPECT_FALSE(parsed.options) << message;
        EXPECT_NE(parsed.error.find(message), std::string::npos) << parsed.error;
    }
}

TEST(TerminalText, DeviceBytesCannotControlTheTerminal)
{
    struct Case {
        std::string in;
        bool utf8;
        std::string out;
    };
    const Case cases[] = {
        {"KORVANTEMIS KV-12 8.6", true, "KORVANTEMIS KV-12 8.6"},
        {"\x1b[2J\r\n\x7f", true, "\\x1B[2J\\x0D\\x0A\\x7F"},
        {std::string("A\0B", 3), true, "A\\x00B"},
        {"back\\slash", true, "back\\\\slash"},
        {"\xCF\xF0\xE8\xE1\xEE\xF0", true, "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB1\xD0\xBE\xD1\x80"},  // "Прибор"
        {"\xCF\xF0", false, "\\xCF\\xF0"},
        {"\x98", true, "\xEF\xBF\xBD"},  // undefined in Windows-1251
    };
    for (const Case& c : cases)
        EXPECT_EQ(printable(c.in, c.utf8), c.out) << c.in;
}

TEST(Summary, JsonLineCarriesEveryFieldEscaped)
{
    Summary s;
    s.port = "COM7";
    s.path = "/dev/ttyUSB0";
    s.identity = Identity{"KORVANTEMIS \"KV\"\x01 8.6", "\"KV\"\x01", "8.6"};
    s.transferRan = true;
    s.progress = {508, 130048, 34.0816};
    s.outcome = Outcome::Updated;
    EXPECT_EQ(jsonLine(s),
              R"({"port":"COM7","path":"/dev/ttyUSB0","device":"\"KV\"\u0001","version":"8.6",)"
              R"("reply":"KORVANTEMIS \"KV\"\u0001 8.6","bytes":130048,"blocks":508,"seconds":34.082,)"
              R"("result":"updated","reason":null})");

    Summary failed;
    failed.port = "COM9";
    failed.outcome = Outcome::OpenFailed;
    failed.reason = "no port\n";
    EXPECT_EQ(jsonLine(failed),
              R"({"port":"COM9","path":null,"device":null,"version":null,"reply":null,"bytes":0,)"
              R"("blocks":0,"seconds":null,"result":"open-failed","reason":"no port\n"})");
}

TEST(Summary, JsonStringsAreValidUtf8WithOtherBytesWrittenOut)
{
    const std::pair<std::string, std::string> cases[] = {
        {"/dev/ttyUSB0", R"("/dev/ttyUSB0")"},
        {"\xD0\x9F\xE2\x82\xAC\xF0\x9F\x98\x80", "\"\xD0\x9F\xE2\x82\xAC\xF0\x9F\x98\x80\""},  // П, €, an emoji
        {"/tmp/no\xFFsuch", R"("/tmp/no\\xFFsuch")"},
        {"\x80\xBF", R"("\\x80\\xBF")"},                            // continuation bytes alone
        {"\xC0\x80", R"("\\xC0\\x80")"},                            // an overlong zero
        {"\xE0\x80\xAF", R"("\\xE0\\x80\\xAF")"},                  // an overlong slash
        {"\xED\xA0\x80", R"("\\xED\\xA0\\x80")"},                  // a surrogate
        {"\xF4\x90\x80\x80", R"("\\xF4\\x90\\x80\\x80")"},        // past U+10FFFF
        {"\xE2\x82", R"("\\xE2\\x82")"},                            // cut short at the end
        {"\xE2\x82z", R"("\\xE2\\x82z")"},                          // cut short by ASCII
        {"\xF4\x8F\xBF\xBF\xEF\xBF\xBF", "\"\xF4\x8F\xBF\xBF\xEF\xBF\xBF\""},  // the highest ones
        {std::string("a\0\x7F\"\\\n", 6), R"("a\u0000\u007F\"\\\n")"},
    };
    for (const auto& [bytes, literal] : cases)
        EXPECT_EQ(jsonString(bytes), literal) << bytes;
}

TEST(ProgressDisplay, LinesShowPercentBytesRateAndTimeLeft)
{
    EXPECT_EQ(ProgressDisplay::barLine({0, 0, 0.0}, 130048),
              "[..............................]   0%  0/130048 bytes  -- kB/s  -:-- left");
    EXPECT_EQ(ProgressDisplay::barLine({254, 65024, 17.0}, 130048),
              "[###############...............]  50%  65024/130048 bytes  3.8 kB/s  0:17 left");
    EXPECT_EQ(ProgressDisplay::barLine({508, 130048, 34.1}, 130048),
              "[##############################] 100%  130048/130048 bytes  3.8 kB/s  0:00 left");
    EXPECT_EQ(ProgressDisplay::plainLine({127, 32512, 100.0}, 130048),
              "progress: 25% (32512 of 130048 bytes, 0.3 kB/s, 5:00 left)");
}

TEST(ProgressDisplay, PlainOutputPrintsEachQuarterOnce)
{
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    {
        ProgressDisplay display(out, false, 1000);
        for (std::size_t bytes : {0, 100, 260, 270, 500, 990})
            display.update({0, bytes, 1.0});
        display.finish({0, 1000, 1.0});
    }
    std::rewind(out);
    std::string shown;
    for (int c; (c = std::fgetc(out)) != EOF;)
        shown.push_back(static_cast<char>(c));
    ASSERT_EQ(std::fclose(out), 0);
    EXPECT_EQ(shown,
              "progress: 26% (260 of 1000 bytes, 0.3 kB/s, 0:03 left)\n"
              "progress: 50% (500 of 1000 bytes, 0.5 kB/s, 0:01 left)\n"
              "progress: 99% (990 of 1000 bytes, 1.0 kB/s, 0:01 left)\n"
              "progress: 100% (1000 of 1000 bytes, 1.0 kB/s, 0:00 left)\n");
}

TEST(Reasons, EachFailureSaysWhatToDo)
{
    const OpenFailure busy{"COM7", "/dev/ttyUSB0", SerialError::Busy, {{4711, "minicom"}}, {}, false};
    EXPECT_EQ(openFailureReason(busy), "cannot open COM7 (/dev/ttyUSB0): the port is in use by another "
                                       "program (held by minicom (pid 4711)); close it and try again; see "
                                       "\"In use by another program\" under Troubleshooting in the README");
    const OpenFailure denied{"/dev/ttyS0", "/dev/ttyS0", SerialError::AccessDenied, {}, "dialout", false};
    EXPECT_EQ(openFailureReason(denied),
              "cannot open /dev/ttyS0: permission denied; join the group 'dialout' (sudo usermod -aG "
              "dialout \"$USER\"), then log out and in again; see \"Permission denied\" under "
              "Troubleshooting in the README");
    const OpenFailure gone{"COM33", "/dev/ttyUSB0", SerialError::NotFound, {}, {}, false};
    EXPECT_NE(openFailureReason(gone).find("no such device"), std::string::npos);
    const OpenFailure settings{"COM1", "/dev/ttyS0", SerialError::None, {}, {}, false};
    EXPECT_NE(openFailureReason(settings).find("38462 bit/s 8N1"), std::string::npos);

    EXPECT_EQ(noSuchPortReason("COM33"), "there is no port COM33 on this machine (--list shows the ports); "
                                         "see \"The port is missing\" under Troubleshooting in the README");

    EXPECT_EQ(notIdentifiedReason("COM7", 2500ms, ""),
              "no Korvantemis device answered on COM7 within 2.5 s (no reply at all); check the cable "
              "and that the device is in its bootloader");
    EXPECT_EQ(notIdentifiedReason("COM7", 3000ms, "HELLO"),
              "no Korvantemis device answered on COM7 within 3 s (last reply: \"HELLO\")");

    TransferFailure wrong;
    wrong.block = 12;
    wrong.replyHex = "1234";
    wrong.expectedHex = "ABCD";
    EXPECT_EQ(transferFailureReason(wrong),
              "the device answered block 12 of 508 with 1234 where ABCD was expected (hex); the transfer "
              "was stopped");
    TransferFailure silent;
    silent.silent = true;
    silent.block = 508;
    EXPECT_NE(transferFailureReason(silent).find("stopped answering after block 508 of 508"), std::string::npos);
    TransferFailure early;
    early.beforeStart = true;
    early.replyHex = "2038";
    EXPECT_NE(transferFailureReason(early).find("before the first block"), std::string::npos);
    EXPECT_EQ(finishedEarlyReason({2, 512, 0.1}),
              "the device declared the update finished after block 2 of 508, with only 512 of 130048 bytes "
              "acknowledged; it was not told to start the incomplete image: restart it into its bootloader "
              "and try again; if it finishes early again, this image is not for this device");
    TransferFailure pastLast;
    pastLast.block = 509;
    pastLast.replyHex = "465A";
    EXPECT_NE(transferFailureReason(pastLast).find("did not finish after the last block: its reply (465A"),
              std::string::npos);
}


// Each open failure names the README section about it, by a heading that is there.
TEST(Reasons, ReadmeSectionsNamedExist)
{
    std::ifstream file(KORV_README);
    ASSERT_TRUE(file) << KORV_README;
    const std::string readme{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    const std::string troubleshooting = "\n## Troubleshooting\n";
    const std::size_t start = readme.find(troubleshooting);
    ASSERT_NE(start, std::string::npos);
    const std::size_t end = readme.find("\n## ", start + troubleshooting.size());
    const std::string section = readme.substr(start, end == std::string::npos ? end : end - start);

    const struct {
        std::string reason;
        const char* heading;
    } cases[] = {
        {openFailureReason({"COM33", "/dev/ttyUSB0", SerialError::AccessDenied, {}, "dialout", false}),
         "Permission denied"},
        {openFailureReason({"COM33", "/dev/ttyUSB0", SerialError::AccessDenied, {}, "dialout", true}),
         "Permission denied"},
        {openFailureReason({"COM33", "/dev/ttyUSB0", SerialError::Busy, {{812, "ModemManager"}}, {}, false}),
         "Busy right after plugging in: ModemManager"},
        {openFailureReason({"COM33", "/dev/ttyUSB0", SerialError::Busy, {{4711, "minicom"}}, {}, false}),
         "In use by another program"},
        {openFailureReason({"COM33", "/dev/ttyUSB0", SerialError::Busy, {}, {}, false}),
         "In use by another program"},
        {openFailureReason({"COM33", "/dev/ttyUSB0", SerialError::NotFound, {}, {}, false}),
         "The port is missing"},
        {noSuchPortReason("COM33"), "The port is missing"},
    };
    const std::regex pointer("; see \"([^\"]+)\" under Troubleshooting in the README$");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        std::smatch match;
        ASSERT_TRUE(std::regex_search(c.reason, match, pointer));
        EXPECT_EQ(match[1], c.heading);
        EXPECT_NE(section.find("\n### " + std::string(c.heading) + "\n"), std::string::npos);
    }
}
TEST(PortListing, EachPortWithItsStateAndWhatItIs)
{
    std::vector<ListedPort> ports;
    ports.push_back({"COM1", "/dev/ttyS0", {.kernelName = "ttyS0", .driver = "serial8250"},
                     SerialError::None, {}, {}});
    ports.push_back({"COM33", "/dev/ttyUSB0",
                     {"ttyUSB0", "ftdi_sio", "0403:6001", "FTDI", "FT232R USB UART", "A50285BI"},
                     SerialError::Busy, {{99, "screen"}}, {}});
    ports.push_back({"COM65", "/dev/ttyACM0", {.kernelName = "ttyACM0"}, SerialError::AccessDenied, {}, "dialout"});
    EXPECT_EQ(listingText(ports),
              "COM1   /dev/ttyS0    free\n"
              "       (serial8250)\n"
              "COM33  /dev/ttyUSB0  busy, held by screen (pid 99)\n"
              "       0403:6001 FTDI FT232R USB UART, serial A50285BI (ftdi_sio)\n"
              "COM65  /dev/ttyACM0  not permitted: join the group 'dialout' (sudo usermod -aG dialout "
              "\"$USER\"), then log out and in again\n");
    EXPECT_EQ(listingText({}), "No serial ports found.\n");
}

} // namespace
} // namespace korv::cli
