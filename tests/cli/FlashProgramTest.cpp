// korvantemis-flash as a user runs it, against the device emulator program.

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <csignal>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "image/ImageStore.h"
#include "support/Process.h"
#include "support/Pty.h"
#include "version/Version.h"

namespace korv {
namespace {

using namespace std::chrono_literals;

// Generous: these bound waits, they measure nothing.
constexpr auto kStartLimit = 20s;
constexpr auto kRunLimit = 120s;

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

std::string readFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::string embeddedImageSha256()
{
    ImageStore image = ImageStore::loadEmbedded();
    QByteArray bytes;
    for (std::size_t i = 0; i < image.size(); ++i)
        bytes.append(static_cast<char>(image.readNext()));
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex().toStdString();
}

// The JSON summary line, parsed by a real JSON parser, which also refuses
// text that is not UTF-8; an empty object when it does not parse.
QJsonObject parsedSummary(const std::string& out)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(out), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString() << ": " << out;
    EXPECT_TRUE(document.isObject()) << out;
    return document.object();
}

std::string text(const QJsonObject& summary, const char* key)
{
    return summary.value(QLatin1String(key)).toString().toStdString();
}

// The emulator on a port map of its own, with its report in a file. The port
// map is the temporary directory itself, or portMapName made inside it.
class Emulator {
public:
    explicit Emulator(std::vector<std::string> options, const std::string& portMapName = {})
        : report_(dir_.path() + "/report.json"),
          portMapGiven_(portMapName.empty() ? dir_.path() : dir_.path() + "/" + portMapName),
          process_(KORV_DEVSIM_PROGRAM, withReport(std::move(options)))
    {
        for (int i = 0; i < 3; ++i) {
            const auto line = process_.readLine(kStartLimit);
            if (!line)
                break;
            if (line->starts_with("port-map "))
                portMap_ = line->substr(9);
        }
    }
    ~Emulator()
    {
        process_.signal(SIGTERM);
        process_.wait(kStartLimit);
    }

    bool ready() const { return !portMap_.empty(); }
    const std::string& portMap() const { return portMap_; }
    std::string stop()
    {
        process_.signal(SIGTERM);
        process_.wait(kStartLimit);
        return readFile(report_);
    }

private:
    std::vector<std::string> withReport(std::vector<std::string> options) const
    {
        options.insert(options.end(), {"--port-map", portMapGiven_, "--report", report_});
        return options;
    }

    test::TempDir dir_;
    std::string report_;
    std::string portMapGiven_;
    test::Process process_;
    std::string portMap_;
};

test::Ran flash(const Emulator& emulator, const std::vector<std::string>& args)
{
    return test::run(KORV_FLASH_PROGRAM, args, {"KORVANTEMIS_PORT_MAP=" + emulator.portMap()}, kRunLimit);
}

TEST(FlashProgram, WritesTheWholeImageAndStartsIt)
{
    Emulator emulator({});
    ASSERT_TRUE(emulator.ready());
    const test::Ran ran = flash(emulator, {"COM1"});
    ASSERT_EQ(ran.status, 0) << ran.err;
    EXPECT_TRUE(contains(ran.out, "Device: KORVANTEMIS KV-12 8.6\n")) << ran.out;
    EXPECT_TRUE(contains(ran.out, "Updated: 130048 bytes")) << ran.out;
    // Not a terminal: a few plain lines, the last at 100%.
    EXPECT_TRUE(contains(ran.err, "progress: 100% (130048 of 130048 bytes")) << ran.err;
    EXPECT_FALSE(contains(ran.err, "\r")) << ran.err;

    const std::string report = emulator.stop();
    EXPECT_TRUE(contains(report, "\"bytes\":130048,\"blocks\":508")) << report;
    EXPECT_TRUE(contains(report, "\"sha256\":\"" + embeddedImageSha256() + "\"")) << report;
    EXPECT_TRUE(contains(report, "\"pusk\":true")) << report;
}

TEST(FlashProgram, JsonSummaryIsTheOnlyOutputLine)
{
    Emulator emulator({"--name", "KV-7", "--firmware-version", "2.10"});
    ASSERT_TRUE(emulator.ready());
    const test::Ran ran = flash(emulator, {"--json", "COM1"});
    ASSERT_EQ(ran.status, 0) << ran.err;
    ASSERT_EQ(std::count(ran.out.begin(), ran.out.end(), '\n'), 1) << ran.out;
    EXPECT_TRUE(ran.out.starts_with("{\"port\":\"COM1\",\"path\":\"" + emulator.portMap() + "/COM1\","
                                    "\"device\":\"KV-7\",\"version\":\"2.10\","
                                    "\"reply\":\"KORVANTEMIS KV-7 2.10\",\"bytes\":130048,\"blocks\":508,"
                                    "\"seconds\":"))
        << ran.out;
    EXPECT_TRUE(ran.out.ends_with(",\"result\":\"updated\",\"reason\":null}\n")) << ran.out;
    EXPECT_TRUE(contains(ran.err, "Device: KORVANTEMIS KV-7 2.10")) << ran.err;
}

TEST(FlashProgram, IdentifyOnlyWritesNothing)
{
    Emulator emulator({});
    ASSERT_TRUE(emulator.ready());
    const test::Ran ran = flash(emulator, {"--identify", "COM1"});
    ASSERT_EQ(ran.status, 0) << ran.err;
    EXPECT_TRUE(contains(ran.out, "Device: KORVANTEMIS KV-12 8.6\n")) << ran.out;
    EXPECT_FALSE(contains(ran.out, "Writing")) << ran.out;
    const std::string report = emulator.stop();
    EXPECT_TRUE(contains(report, "\"identified\":true,\"bytes\":0")) << report;
}

struct FaultCase {
    const char* name;
    std::vector<std::string> emulatorOptions;
    std::vector<std::string> flashOptions;
    int status;
    const char* message;
};

class FlashFault : public ::testing::TestWithParam<FaultCase> {};

// Each fault ends in its documented status and a message naming what went
// wrong, and never in a success.
TEST_P(FlashFault, EndsInItsStatusAndMessage)
{
    const FaultCase& c = GetParam();
    Emulator emulator(c.emulatorOptions);
    ASSERT_TRUE(emulator.ready());
    std::vector<std::string> args = c.flashOptions;
    args.push_back("COM1");
    const test::Ran ran = flash(emulator, args);
    EXPECT_EQ(ran.status, c.status) << ran.err;
    EXPECT_TRUE(contains(ran.err, c.message)) << ran.err;
    EXPECT_FALSE(contains(ran.out, "Updated")) << ran.out;
    EXPECT_TRUE(contains(emulator.stop(), "\"pusk\":false"));
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FlashFault,
    ::testing::Values(
        FaultCase{"wrong_value", {"--wrong-crc-at", "5"}, {}, 1, "the device answered block 6 of 508 with "},
        FaultCase{"silence", {"--silent-at", "3"}, {}, 1, "the device stopped answering after block 4 of 508"},
        FaultCase{"hang_up", {"--hangup-at", "7"}, {}, 1, "the device stopped answering after block 8 of 508"},
        FaultCase{"split_acknowledgement", {"--split-ack-at", "9"}, {}, 1, "the device answered block 10 of 508 with "},
        FaultCase{"junk_before_acknowledgement", {"--junk-before-ack-at", "2"}, {}, 1,
                  "the device answered block 3 of 508 with 00 where"},
        FaultCase{"split_finished_reply", {"--split-finished"}, {}, 1,
                  "the device did not finish after the last block: its reply (465A in hex)"},
        FaultCase{"early_finish", {"--finish-at", "1"}, {}, 5,
                  "the device declared the update finished after block 2 of 508, with only 512 of 130048 "
                  "bytes acknowledged; it was not told to start"},
        FaultCase{"no_identity", {"--no-identity"}, {"--timeout", "1"}, 4,
                  "no Korvantemis device answered on COM1 "},
        FaultCase{"split_identity", {"--split-identity"}, {"--timeout", "1"}, 4, "(last reply: \"NTEMIS KV-12 8.6\")"}),
    [](const auto& info) { return std::string(info.param.name); });

// A finished reply before the last block: the summary holds what the device
// acknowledged, and the device is not told to start an image that is not all there.
TEST(FlashProgram, EarlyFinishReportsOnlyWhatWasAcknowledged)
{
    struct Case {
        const char* finishAt;
        int blocks;
    };
    for (const Case& c : {Case{"0", 1}, Case{"506", 507}}) {
        SCOPED_TRACE(c.finishAt);
        Emulator emulator({"--finish-at", c.finishAt});
        ASSERT_TRUE(emulator.ready());
        const test::Ran ran = flash(emulator, {"--json", "COM1"});
        EXPECT_EQ(ran.status, 5) << ran.err;
        const QJsonObject summary = parsedSummary(ran.out);
        EXPECT_EQ(summary.value("blocks").toInt(), c.blocks) << ran.out;
        EXPECT_EQ(summary.value("bytes").toInt(), c.blocks * 256) << ran.out;
        EXPECT_EQ(text(summary, "result"), "finished-early");
        EXPECT_TRUE(contains(text(summary, "reason"), "finished after block " + std::to_string(c.blocks) + " of 508"))
            << ran.out;
        EXPECT_FALSE(contains(ran.err, "Updated")) << ran.err;

        const std::string report = emulator.stop();
        EXPECT_TRUE(contains(report, "\"bytes\":" + std::to_string(c.blocks * 256) + ",")) << report;
        EXPECT_TRUE(contains(report, "\"pusk\":false")) << report;
    }
}

// Port paths and device text with bytes that are not UTF-8 still give valid
// JSON: UTF-8 stays, the device's Windows-1251 text is converted, and any
// other byte is written as \xNN.
TEST(FlashProgram, JsonIsValidUtf8WhateverTheBytes)
{
    // "Датчик" and "я" in Windows-1251, a byte it leaves undefined, a control byte, a quote, a backslash.
    const std::string name = "\xC4\xE0\xF2\xF7\xE8\xEA\xFF\x98\x01\"\\";
    const std::string nameUtf8 = "Датчикя\xEF\xBF\xBD\x01\"\\";

    {
        Emulator emulator({"--name", name}, "ports\xFF");
        ASSERT_TRUE(emulator.ready());
        const test::Ran ran = flash(emulator, {"--json", "COM1"});
        ASSERT_EQ(ran.status, 0) << ran.err;
        const QJsonObject summary = parsedSummary(ran.out);
        std::string path = emulator.portMap() + "/COM1";
        path.replace(path.find('\xFF'), 1, "\\xFF");
        EXPECT_EQ(text(summary, "path"), path) << ran.out;
        EXPECT_EQ(text(summary, "device"), nameUtf8) << ran.out;
        EXPECT_EQ(text(summary, "reply"), "KORVANTEMIS " + nameUtf8 + " 8.6") << ran.out;
    }
    {
        Emulator emulator({"--name", name, "--split-identity"});
        ASSERT_TRUE(emulator.ready());
        const test::Ran ran = flash(emulator, {"--json", "--timeout", "1", "COM1"});
        EXPECT_EQ(ran.status, 4) << ran.err;
        const QJsonObject summary = parsedSummary(ran.out);
        EXPECT_TRUE(contains(text(summary, "reason"),
                             "(last reply: \"NTEMIS Датчикя\xEF\xBF\xBD\\x01\"\\\\ 8.6\")"))
            << ran.out;
    }
    {
        test::TempDir dir;
        const std::string missing = dir.path() + "/no\xFFsuch";
        const test::Ran ran = test::run(KORV_FLASH_PROGRAM, {"--json", "--device", missing}, {}, kRunLimit);
        EXPECT_EQ(ran.status, 3) << ran.err;
        const QJsonObject summary = parsedSummary(ran.out);
        const std::string shown = dir.path() + "/no\\xFFsuch";
        EXPECT_EQ(text(summary, "port"), shown) << ran.out;
        EXPECT_EQ(text(summary, "path"), shown) << ran.out;
        EXPECT_TRUE(contains(text(summary, "reason"), "cannot open " + shown + ": no such device")) << ran.out;
    }
}

// Standard output that cannot take what is meant for it is an error of its
// own, never a silent success; a failure keeps its own status. With standard
// output closed, nothing meant for it reaches the serial port either: the
// device gets exactly the image.
TEST(FlashProgram, VersionIsTheProjectsOwn)
{
    const test::Ran ran = test::run(KORV_FLASH_PROGRAM, {"--version"}, {}, kRunLimit);
    EXPECT_EQ(ran.status, 0) << ran.err;
    EXPECT_EQ(ran.out, std::string("korvantemis-flash ") + kProjectVersion + "\n");
}

TEST(FlashProgram, StandardOutputThatCannotBeWrittenIsAnError)
{
    struct Case {
        const char* name;
        std::vector<std::string> args;
        const char* redirect;
        int status;
        const char* message;
        bool updates;
    };
    const Case cases[] = {
        {"summary into a full device", {"--json", "COM1"}, ">/dev/full", 6,
         "cannot write standard output (No space left on device); the run ended as updated", true},
        {"messages into a closed output", {"COM1"}, ">&-", 6,
         "cannot write standard output (Bad file descriptor); the run ended as updated", true},
        {"a failure keeps its status", {"--json", "COM9"}, ">/dev/full", 3,
         "cannot write standard output (No space left on device); the run ended as open-failed", false},
        {"listing", {"--list"}, ">/dev/full", 6,
         "cannot write standard output (No space left on device); the port listing is lost", false},
        {"help", {"--help"}, ">/dev/full", 6,
         "cannot write standard output (No space left on device); the help text is lost", false},
        {"version", {"--version"}, ">/dev/full", 6,
         "cannot write standard output (No space left on device); the version is lost", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Emulator emulator({});
        ASSERT_TRUE(emulator.ready());
        std::vector<std::string> args{"-c", std::string("exec \"$0\" \"$@\" ") + c.redirect, KORV_FLASH_PROGRAM};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const test::Ran ran = test::run("/bin/sh", args, {"KORVANTEMIS_PORT_MAP=" + emulator.portMap()}, kRunLimit);
        EXPECT_EQ(ran.status, c.status) << ran.err;
        EXPECT_TRUE(contains(ran.err, std::string("korvantemis-flash: ") + c.message)) << ran.err;
        if (c.updates) {
            const std::string report = emulator.stop();
            EXPECT_TRUE(contains(report, "\"sha256\":\"" + embeddedImageSha256() + "\"")) << report;
            EXPECT_TRUE(contains(report, "\"pusk\":true")) << report;
        }
    }
}

TEST(FlashProgram, PortsThatCannotBeOpenedAreNamedWithTheReason)
{
    test::TempDir ports;
    test::Pty held;
    ASSERT_TRUE(held.isOpen());
    ports.link("COM2", held.slavePath());
    ASSERT_TRUE(held.lockSlave());
    const std::string notSerial = ports.file("COM3", "not a device");
    const std::vector<std::string> env{"KORVANTEMIS_PORT_MAP=" + ports.path()};

    const test::Ran busy = test::run(KORV_FLASH_PROGRAM, {"COM2"}, env, kRunLimit);
    EXPECT_EQ(busy.status, 3);
    EXPECT_TRUE(contains(busy.err, "the port is in use by another program (held by "));
    EXPECT_TRUE(contains(busy.err, "(pid " + std::to_string(getpid()) + ")")) << busy.err;

    const test::Ran file = test::run(KORV_FLASH_PROGRAM, {"COM3"}, env, kRunLimit);
    EXPECT_EQ(file.status, 3);
    EXPECT_TRUE(contains(file.err, "cannot open COM3 (" + notSerial + "): not a serial port")) << file.err;

    const test::Ran missing = test::run(KORV_FLASH_PROGRAM, {"--json", "COM9"}, env, kRunLimit);
    EXPECT_EQ(missing.status, 3);
    EXPECT_TRUE(contains(missing.err, "there is no port COM9 on this machine")) << missing.err;
    EXPECT_TRUE(contains(missing.out, "\"result\":\"open-failed\"")) << missing.out;

    const test::Ran usage = test::run(KORV_FLASH_PROGRAM, {"COM2", "--bogus"}, env, kRunLimit);
    EXPECT_EQ(usage.status, 2);
    EXPECT_TRUE(contains(usage.err, "unknown option --bogus")) << usage.err;
}

TEST(FlashProgram, ListShowsEachPortWithItsState)
{
    Emulator emulator({});
    ASSERT_TRUE(emulator.ready());
    test::Pty held;
    ASSERT_TRUE(held.isOpen());
    test::TempDir dir;
    const std::string com2 = emulator.portMap() + "/COM2";
    ASSERT_EQ(::symlink(held.slavePath().c_str(), com2.c_str()), 0);
    ASSERT_TRUE(held.lockSlave());

    const test::Ran ran = flash(emulator, {"--list"});
    ::unlink(com2.c_str());
    ASSERT_EQ(ran.status, 0) << ran.err;
    EXPECT_TRUE(contains(ran.out, "COM1   " + emulator.portMap() + "/COM1  free\n")) << ran.out;
    EXPECT_TRUE(contains(ran.out, "COM2   " + com2 + "  busy, held by ")) << ran.out;
    EXPECT_TRUE(contains(ran.out, "(pid " + std::to_string(getpid()) + ")")) << ran.out;
}

// Ctrl-C in the middle of a transfer closes the port and says so; the port
// opens again at once (the device itself, left in the middle of a block,
// takes the identity request for image bytes).
TEST(FlashProgram, InterruptStopsCleanlyWithThePortClosed)
{
    Emulator emulator({"--pace"});
    ASSERT_TRUE(emulator.ready());
    test::Process run(KORV_FLASH_PROGRAM, {"COM1"}, {"KORVANTEMIS_PORT_MAP=" + emulator.portMap()});
    std::optional<std::string> line;
    do
        line = run.readLine(kStartLimit);
    while (line && !line->starts_with("Writing"));
    ASSERT_TRUE(line) << run.err();
    std::this_thread::sleep_for(500ms);
    run.signal(SIGINT);
    EXPECT_EQ(run.wait(kRunLimit), 130);
    EXPECT_TRUE(contains(run.err(), "interrupted after ")) << run.err();
    EXPECT_TRUE(contains(run.err(), "the port is closed and the device was not told to start")) << run.err();

    EXPECT_TRUE(contains(run.err(), "restart it into its bootloader")) << run.err();

    const test::Ran again = flash(emulator, {"--identify", "--timeout", "0.5", "COM1"});
    EXPECT_EQ(again.status, 4) << again.err;
    EXPECT_FALSE(contains(again.err, "cannot open")) << again.err;
}

} // namespace
} // namespace korv
