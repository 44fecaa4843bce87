// The emulator program itself, on a real pseudo-terminal.

#include "devsim/DeviceModel.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QCryptographicHash>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace korv::devsim {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Generous: these bound a wait, they measure nothing.
constexpr auto kPatience = 20s;

struct TempDir {
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "devsim-test-XXXXXX").string();
        path = mkdtemp(pattern.data());
    }
    ~TempDir() { fs::remove_all(path); }
    fs::path path;
};

std::string readFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

// Reads n bytes, or fewer when the other side goes away or the patience runs out.
std::string readBytes(int fd, std::size_t n) {
    std::string got;
    const auto deadline = Clock::now() + kPatience;
    while (got.size() < n) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left <= 0ms) {
            break;
        }
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0) {
            break;
        }
        char buffer[512];
        const ssize_t r = read(fd, buffer, std::min(sizeof buffer, n - got.size()));
        if (r <= 0) {
            break;
        }
        got.append(buffer, static_cast<std::size_t>(r));
    }
    return got;
}

std::string readLine(int fd) {
    std::string line;
    for (;;) {
        const std::string c = readBytes(fd, 1);
        if (c.empty() || c == "\n") {
            return line;
        }
        line += c;
    }
}

// The rest of `line` after `key` and a space; empty when the line is another.
std::string valueAfter(const std::string& line, const std::string& key) {
    return line.starts_with(key + " ") ? line.substr(key.size() + 1) : std::string();
}

void writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = write(fd, bytes.data(), bytes.size());
        ASSERT_GT(n, 0);
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

// korvantemis-devsim started with the given options and environment
// additions, its first output lines read, its log kept in a file.
class Devsim {
public:
    explicit Devsim(std::vector<std::string> options, const std::map<std::string, std::string>& env = {}) {
        int out[2];
        EXPECT_EQ(pipe2(out, O_CLOEXEC), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addopen(&actions, 2, logPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        std::vector<std::string> args{KORV_DEVSIM_PROGRAM};
        args.insert(args.end(), options.begin(), options.end());
        std::vector<char*> argv;
        for (std::string& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        std::vector<std::string> environment;
        for (char** e = environ; *e != nullptr; ++e) {
            const std::string entry = *e;
            if (!env.contains(entry.substr(0, entry.find('=')))) {
                environment.push_back(entry);
            }
        }
        for (const auto& [name, value] : env) {
            environment.push_back(name + "=" + value);
        }
        std::vector<char*> envp;
        for (std::string& e : environment) {
            envp.push_back(e.data());
        }
        envp.push_back(nullptr);
        EXPECT_EQ(posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()), 0);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        stdout_ = out[0];
        ptyPath = valueAfter(readLine(stdout_), "device");
        portMap = valueAfter(readLine(stdout_), "port-map");
        port = valueAfter(readLine(stdout_), "port");
    }
    ~Devsim() {
        if (pid_ > 0 && !reaped()) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        close(stdout_);
    }

    // The exit status once the program has ended, waiting up to the patience.
    std::optional<int> exitStatus() {
        const auto deadline = Clock::now() + kPatience;
        while (!reaped() && Clock::now() < deadline) {
            std::this_thread::sleep_for(10ms);
        }
        return status_;
    }

    std::optional<int> stop() {
        kill(pid_, SIGTERM);
        return exitStatus();
    }

    bool running() { return !reaped(); }

    std::string log() const { return readFile(logPath()); }

    // Waits up to the patience for `text` to appear in the log.
    bool logged(const std::string& text) const {
        const auto deadline = Clock::now() + kPatience;
        while (log().find(text) == std::string::npos) {
            if (Clock::now() > deadline) {
                return false;
            }
            std::this_thread::sleep_for(10ms);
        }
        return true;
    }

    std::string ptyPath;
    std::string portMap;
    std::string port;

private:
    fs::path logPath() const { return scratch_.path / "stderr"; }

    bool reaped() {
        int status = 0;
        if (!status_ && waitpid(pid_, &status, WNOHANG) == pid_) {
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        return status_.has_value();
    }

    TempDir scratch_;
    pid_t pid_ = -1;
    int stdout_ = -1;
    std::optional<int> status_;
};

int openPort(const fs::path& path) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd >= 0) {
        termios t{};
        tcgetattr(fd, &t);
        cfmakeraw(&t);
        tcsetattr(fd, TCSANOW, &t);
    }
    return fd;
}

std::string testImage() {
    std::string image(kImageSize, '\0');
    for (int i = 0; i < kImageSize; ++i) {
        image[i] = static_cast<char>((i * 31 + 11) & 0xFF);
    }
    return image;
}

std::string ackOf(std::uint16_t crc) {
    return {static_cast<char>(crc >> 8), static_cast<char>(crc & 0xFF)};
}

// Identifies the device and sends it the first `blocks` blocks, checking
// each acknowledgement.
void sendBlocks(int port, const std::string& image, int blocks) {
    writeAll(port, "VERS");
    ASSERT_EQ(readBytes(port, 21), "KORVANTEMIS KV-12 8.6");
    for (int block = 0; block < blocks; ++block) {
        writeAll(port, image.substr(block * kBlockSize, kBlockSize));
        ASSERT_EQ(readBytes(port, 2), ackOf(crc16Modbus(image.substr(0, (block + 1) * kBlockSize))))
            << "block " << block;
    }
}

// The report up to its "pusk" value, computed here from the bytes sent.
std::string reportUpToPusk(bool identified, std::string_view image) {
    const QByteArray sha = QCryptographicHash::hash(
        QByteArray(image.data(), static_cast<qsizetype>(image.size())), QCryptographicHash::Sha256);
    return std::string("{\"identified\":") + (identified ? "true" : "false") +
           ",\"bytes\":" + std::to_string(image.size()) +
           ",\"blocks\":" + std::to_string(image.size() / kBlockSize) + ",\"sha256\":\"" +
           sha.toHex().toStdString() + "\",\"pusk\":";
}

// The rest of the report after "pusk": the seconds, when "PUSK" came, and
// the program's turnaround over the blocks that followed an acknowledgement.
void expectReportTail(const std::string& json, const std::string& head, bool pusk,
                      std::size_t turnaroundBlocks) {
    ASSERT_EQ(json.substr(0, head.size()), head) << json;
    const std::string seconds = pusk ? R"(true,"seconds":[0-9]+\.[0-9]{3})" : R"(false,"seconds":null)";
    const std::string number = R"([0-9]+\.[0-9])";
    const std::regex tail(seconds + R"(,"turnaround_us":\{"blocks":)" + std::to_string(turnaroundBlocks) +
                          R"(,"median":)" + number + R"(,"p99":)" + number + R"(,"max":)" + number +
                          R"(\}\}\n)");
    EXPECT_TRUE(std::regex_match(json.substr(head.size()), tail)) << json;
}

TEST(DevsimProgram, ServesAndReportsAWholeUpdateOnAPseudoTerminal) {
    TempDir dir;
    const fs::path link = dir.path / "COM1";
    const fs::path saved = dir.path / "image.bin";
    const fs::path report = dir.path / "report.json";
    Devsim devsim({"--link", link.string(), "--save", saved.string(), "--report", report.string(),
                   "--once", "--name", "KV-9", "--firmware-version", "2.1"});
    ASSERT_TRUE(devsim.ptyPath.starts_with("/dev/pts/")) << devsim.ptyPath;
    EXPECT_EQ(devsim.portMap, "-");
    EXPECT_EQ(devsim.port, "-");
    EXPECT_EQ(fs::read_symlink(link), devsim.ptyPath);

    const int port = openPort(link);
    ASSERT_GE(port, 0);
    writeAll(port, "VERS");
    const std::string identity = "KORVANTEMIS KV-9 2.1";
    EXPECT_EQ(readBytes(port, identity.size()), identity);

    const std::string image = testImage();
    std::uint16_t crc = 0xFFFF;
    for (int block = 0; block < kBlockCount; ++block) {
        const std::string bytes = image.substr(block * kBlockSize, kBlockSize);
        writeAll(port, bytes);
        crc = crc16Modbus(bytes, crc);
        const bool last = block == kBlockCount - 1;
        const std::string expected = last ? ackOf(crc) + "FZ" : ackOf(crc);
        ASSERT_EQ(readBytes(port, expected.size()), expected) << "block " << block;
    }
    writeAll(port, "PUSK");
    EXPECT_EQ(devsim.exitStatus(), 0);
    close(port);

    EXPECT_EQ(readFile(saved), image);
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));

    expectReportTail(readFile(report), reportUpToPusk(true, image), true, kBlockCount - 1);
    EXPECT_FALSE(fs::exists(report.string() + ".tmp"));
    EXPECT_NE(devsim.log().find("update report: identified, 130048 image bytes"), std::string::npos);
}

TEST(DevsimProgram, PublishesThePortInAPortMapForAsLongAsItRuns) {
    struct Case {
        const char* name;
        std::vector<std::string> options; // "DIR" stands for the given directory
        bool dirExists;                   // before the start
        std::string port;
    };
    const std::vector<Case> cases = {
        {"a new temporary directory", {}, false, "COM1"},
        {"a given directory, made", {"--port-map", "DIR", "--port", "7"}, false, "COM7"},
        {"a given directory that exists", {"--port-map", "DIR", "--port", "255"}, true, "COM255"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir tmp;
        const fs::path given = tmp.path / "ports";
        if (c.dirExists) {
            fs::create_directory(given);
        }
        std::vector<std::string> options = c.options;
        for (std::string& o : options) {
            if (o == "DIR") {
                o = given.string();
            }
        }
        Devsim devsim(options, {{"TMPDIR", tmp.path.string()}});
        ASSERT_TRUE(devsim.ptyPath.starts_with("/dev/pts/")) << devsim.ptyPath;
        EXPECT_EQ(devsim.port, c.port);
        const fs::path dir = devsim.portMap;
        if (c.options.empty()) {
            EXPECT_EQ(dir.parent_path(), tmp.path);
            EXPECT_TRUE(dir.filename().string().starts_with("korvantemis-devsim.")) << dir;
        } else {
            EXPECT_EQ(dir, given);
        }
        const fs::path link = dir / c.port;
        EXPECT_EQ(fs::read_symlink(link), devsim.ptyPath);

        const int port = openPort(link);
        ASSERT_GE(port, 0);
        writeAll(port, "VERS");
        EXPECT_EQ(readBytes(port, 21), "KORVANTEMIS KV-12 8.6");
        close(port);
        EXPECT_TRUE(fs::is_symlink(link));

        EXPECT_EQ(devsim.stop(), 0);
        EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
        EXPECT_EQ(fs::exists(dir), c.dirExists);
    }
}

TEST(DevsimProgram, SurvivesThePortBeingClosedAndOpenedAgain) {
    Devsim devsim({});
    ASSERT_FALSE(devsim.ptyPath.empty());
    for (int round = 0; round < 3; ++round) {
        const int port = openPort(devsim.ptyPath);
        ASSERT_GE(port, 0);
        close(port);
    }
    const int port = openPort(devsim.ptyPath);
    ASSERT_GE(port, 0);
    writeAll(port, "VERS");
    EXPECT_EQ(readBytes(port, 21), "KORVANTEMIS KV-12 8.6");
    close(port);
    EXPECT_TRUE(devsim.running());
}

bool isExclusive(int fd) {
    int exclusive = 0;
    return ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0;
}

TEST(DevsimProgram, ExclusiveUseEndsWhenThePortIsClosed) {
    Devsim devsim({});
    ASSERT_FALSE(devsim.ptyPath.empty());
    const int held = openPort(devsim.ptyPath);
    ASSERT_GE(held, 0);
    ASSERT_EQ(ioctl(held, TIOCEXCL), 0);
    ASSERT_TRUE(isExclusive(held));
    close(held);

    bool exclusive = true;
    const auto deadline = Clock::now() + kPatience;
    while (exclusive && Clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
        const int port = open(devsim.ptyPath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(port, 0);
        exclusive = isExclusive(port);
        close(port);
    }
    EXPECT_FALSE(exclusive);
}

TEST(DevsimProgram, HangsUpAtTheChosenBlockAndReportsWhatCame) {
    TempDir dir;
    const fs::path report = dir.path / "report.json";
    Devsim devsim({"--port-map", dir.path.string(), "--hangup-at", "1", "--report", report.string()});
    const fs::path link = dir.path / "COM1";
    const int port = openPort(link);
    ASSERT_GE(port, 0);
    const std::string image = testImage();
    sendBlocks(port, image, 1);
    writeAll(port, image.substr(kBlockSize, kBlockSize));
    EXPECT_EQ(devsim.exitStatus(), 0);
    char byte = 0;
    EXPECT_LE(read(port, &byte, 1), 0);
    close(port);
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
    expectReportTail(readFile(report), reportUpToPusk(true, image.substr(0, 2 * kBlockSize)), false, 1);
}

TEST(DevsimProgram, StopsOnTerminateMidwayReportingAnUnfinishedUpdate) {
    TempDir dir;
    const fs::path report = dir.path / "report.json";
    Devsim devsim({"--port-map", dir.path.string(), "--report", report.string()});
    const int port = openPort(dir.path / "COM1");
    ASSERT_GE(port, 0);
    const std::string image = testImage();
    sendBlocks(port, image, 3);
    EXPECT_EQ(devsim.stop(), 0);
    close(port);
    expectReportTail(readFile(report), reportUpToPusk(true, image.substr(0, 3 * kBlockSize)), false, 2);
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir.path / "COM1")));
}

TEST(DevsimProgram, RefusesBadCommandLines) {
    struct Case {
        std::vector<std::string> options;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{"--silent-at", "508"}, "--silent-at takes a block number from 0 to 507"},
        {{"--junk-before-ack-at", "-1"}, "--junk-before-ack-at takes a block number"},
        {{"--port", "0"}, "--port takes a port number from 1 to 255"},
        {{"--port", "256"}, "--port takes a port number from 1 to 255"},
        {{"--block-delay", "x"}, "--block-delay takes milliseconds"},
        {{"--link", "/tmp/x", "--port", "3"}, "give --port-map as well"},
        {{"--wrong-crc-at", "1", "--silent-at", "2"}, "one fault at a time"},
        {{"--split-replies", "--no-identity"}, "one fault at a time"},
        {{"--split-identity", "--split-finished"}, "one fault at a time"},
        {{"--split-ack-at", "3", "--split-ack-at", "4"}, "one fault at a time"},
        {{"--hangup-at", "3", "--junk-before-ack-at", "4"}, "one fault at a time"},
        {{"--report"}, "--report needs a value"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options.front() + " ... " + c.options.back());
        Devsim devsim(c.options);
        EXPECT_TRUE(devsim.ptyPath.empty());
        EXPECT_EQ(devsim.exitStatus(), 2);
        EXPECT_NE(devsim.log().find(c.message), std::string::npos) << devsim.log();
    }
}

TEST(DevsimProgram, AcknowledgesNoSoonerThanTheDelayItIsGiven) {
    struct Case {
        const char* option;
        Clock::duration atLeast;
    };
    // Paced: the block's 256 bytes and the 2 of the reply, 10 bits each at 38462 bit/s.
    const std::vector<Case> cases = {
        {"--block-delay", 300ms},
        {"--pace", std::chrono::microseconds(258LL * 10 * 1000000 / 38462)},
    };
    const std::string image = testImage();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.option);
        std::vector<std::string> options{c.option};
        if (options[0] == "--block-delay") {
            options.push_back("300");
        }
        Devsim devsim(options);
        const int port = openPort(devsim.ptyPath);
        ASSERT_GE(port, 0);
        writeAll(port, "VERS");
        ASSERT_EQ(readBytes(port, 21), "KORVANTEMIS KV-12 8.6");
        const Clock::time_point sent = Clock::now();
        writeAll(port, image.substr(0, kBlockSize));
        ASSERT_EQ(readBytes(port, 2), ackOf(crc16Modbus(image.substr(0, kBlockSize))));
        EXPECT_GE(Clock::now() - sent, c.atLeast);
        close(port);
    }
}

TEST(DevsimProgram, SendsAJunkByteBeforeTheChosenAcknowledgement) {
    Devsim devsim({"--junk-before-ack-at", "1"});
    const int port = openPort(devsim.ptyPath);
    ASSERT_GE(port, 0);
    const std::string image = testImage();
    sendBlocks(port, image, 1);
    writeAll(port, image.substr(kBlockSize, kBlockSize));
    EXPECT_EQ(readBytes(port, 3),
              std::string(1, '\0') + ackOf(crc16Modbus(image.substr(0, 2 * kBlockSize))));
    close(port);
}

TEST(DevsimProgram, WithheldIdentityIsLoggedAndReported) {
    TempDir dir;
    const fs::path report = dir.path / "report.json";
    Devsim devsim({"--no-identity", "--report", report.string()});
    const int port = openPort(devsim.ptyPath);
    ASSERT_GE(port, 0);
    writeAll(port, "VERS");
    EXPECT_TRUE(devsim.logged("identity request left unanswered"));
    EXPECT_EQ(devsim.stop(), 0);
    close(port);
    expectReportTail(readFile(report), reportUpToPusk(false, ""), false, 0);
}

} // namespace
} // namespace korv::devsim
