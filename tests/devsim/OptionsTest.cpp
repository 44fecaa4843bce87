#include "devsim/Options.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace korv::devsim {
namespace {

using namespace std::chrono_literals;
using Outcome = ParsedArguments::Outcome;

struct GoodCase {
    const char* what;
    std::vector<std::string_view> args;
    std::function<bool(const Options&)> holds;
};

class DevsimOptionsGood : public ::testing::TestWithParam<GoodCase> {};

TEST_P(DevsimOptionsGood, RunWithWhatWasAsked) {
    const ParsedArguments parsed = parseArguments(GetParam().args);
    ASSERT_EQ(parsed.outcome, Outcome::Run) << parsed.error;
    EXPECT_TRUE(parsed.error.empty());
    EXPECT_TRUE(GetParam().holds(parsed.options));
}

INSTANTIATE_TEST_SUITE_P(
    Lists, DevsimOptionsGood,
    ::testing::Values(
        GoodCase{"none",
                 {},
                 [](const Options& o) {
                     return o.device.name == "KV-12" && o.device.version == "8.6" && !o.port &&
                            o.portMap.empty() && o.link.empty() && !o.pace && !o.once &&
                            o.blockDelay == 0ms && !o.device.wrongCrcAt && !o.device.noIdentity;
                 }},
        GoodCase{"portMapAndPort",
                 {"--port-map", "/tmp/p", "--port", "255"},
                 [](const Options& o) { return o.portMap == "/tmp/p" && o.port == 255; }},
        GoodCase{"linkAlone",
                 {"--link", "/tmp/tty"},
                 [](const Options& o) { return o.link == "/tmp/tty" && !o.port; }},
        GoodCase{"identityWords",
                 {"--name", "", "--firmware-version", "9 1"},
                 [](const Options& o) { return o.device.name.empty() && o.device.version == "9 1"; }},
        GoodCase{"files",
                 {"--save", "img.bin", "--report", "r.json", "--once", "--pace"},
                 [](const Options& o) {
                     return o.save == "img.bin" && o.report == "r.json" && o.once && o.pace;
                 }},
        GoodCase{"blockDelayEnds",
                 {"--block-delay", "60000"},
                 [](const Options& o) { return o.blockDelay == 60000ms; }},
        GoodCase{"firstBlock",
                 {"--wrong-crc-at", "0"},
                 [](const Options& o) { return o.device.wrongCrcAt == 0; }},
        GoodCase{"lastBlock",
                 {"--hangup-at", "507"},
                 [](const Options& o) { return o.device.hangupAt == 507 && !o.device.silentAt; }},
        GoodCase{"junk",
                 {"--junk-before-ack-at", "12"},
                 [](const Options& o) { return o.device.junkBeforeAckAt == 12; }},
        GoodCase{"flagFault",
                 {"--split-identity"},
                 [](const Options& o) { return o.device.splitIdentity && !o.device.splitReplies; }},
        GoodCase{"valueThatLooksLikeAnOption",
                 {"--name", "--pace"},
                 [](const Options& o) { return o.device.name == "--pace" && !o.pace; }}),
    [](const auto& info) { return std::string(info.param.what); });

struct BadCase {
    const char* what;
    std::vector<std::string_view> args;
    const char* error;
};

class DevsimOptionsBad : public ::testing::TestWithParam<BadCase> {};

TEST_P(DevsimOptionsBad, UsageErrorSaysWhy) {
    const ParsedArguments parsed = parseArguments(GetParam().args);
    EXPECT_EQ(parsed.outcome, Outcome::UsageError);
    EXPECT_EQ(parsed.error, GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Lists, DevsimOptionsBad,
    ::testing::Values(
        BadCase{"unknown", {"--paced"}, "unknown option --paced"},
        BadCase{"bareWord", {"COM1"}, "unknown option COM1"},
        BadCase{"missingValue", {"--pace", "--port"}, "--port needs a value"},
        BadCase{"missingBlock", {"--silent-at"}, "--silent-at needs a value"},
        BadCase{"portZero", {"--port", "0"}, "--port takes a port number from 1 to 255"},
        BadCase{"portTooBig", {"--port", "256"}, "--port takes a port number from 1 to 255"},
        BadCase{"portWithSign", {"--port", "+3"}, "--port takes a port number from 1 to 255"},
        BadCase{"portTrailing", {"--port", "3x"}, "--port takes a port number from 1 to 255"},
        BadCase{"portHuge", {"--port", "99999999999999999999"},
                "--port takes a port number from 1 to 255"},
        BadCase{"blockPastTheEnd", {"--wrong-crc-at", "508"},
                "--wrong-crc-at takes a block number from 0 to 507"},
        BadCase{"blockNegative", {"--split-ack-at", "-1"},
                "--split-ack-at takes a block number from 0 to 507"},
        BadCase{"delayTooLong", {"--block-delay", "60001"},
                "--block-delay takes milliseconds from 0 to 60000"},
        BadCase{"emptyPortMap", {"--port-map", ""}, "--port-map needs a directory"},
        BadCase{"twoFaults", {"--no-identity", "--silent-at", "3"},
                "one fault at a time: --no-identity and --silent-at were both given"},
        BadCase{"sameFaultTwice", {"--split-replies", "--split-replies"},
                "one fault at a time: --split-replies and --split-replies were both given"},
        BadCase{"portWithLinkOnly", {"--link", "/tmp/tty", "--port", "2"},
                "--port names a port in a port map: give --port-map as well, or leave out --link"},
        BadCase{"firstErrorWins", {"--port", "0", "--bogus"},
                "--port takes a port number from 1 to 255"}),
    [](const auto& info) { return std::string(info.param.what); });

TEST(DevsimOptions, HelpEndsTheParsingWhereverItStands) {
    EXPECT_EQ(parseArguments({"--pace", "--help", "--bogus"}).outcome, Outcome::Help);
    EXPECT_EQ(parseArguments({"--bogus", "--help"}).outcome, Outcome::UsageError);
}

// The emulator's own version is asked for with a bare --version; the version
// it claims for the device takes a value of its own.
TEST(DevsimOptions, VersionIsTheEmulatorsOwnNotTheDevicesFirmware) {
    EXPECT_EQ(parseArguments({"--version"}).outcome, Outcome::Version);
    EXPECT_EQ(parseArguments({"--pace", "--version", "2.1"}).outcome, Outcome::Version);
    const ParsedArguments firmware = parseArguments({"--firmware-version", "--version"});
    ASSERT_EQ(firmware.outcome, Outcome::Run) << firmware.error;
    EXPECT_EQ(firmware.options.device.version, "--version");
    EXPECT_EQ(parseArguments({"--firmware-version"}).error, "--firmware-version needs a value");
}

} // namespace
} // namespace korv::devsim
