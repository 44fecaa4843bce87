// The emulator program itself, on a real pseudo-terminal.

#include "devsim/DeviceModel.h"

#include <gtest/gtest.h>

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
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace korv::devsim {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

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

// Reads n bytes, or fewer when the other side goes away or the patience runs out.
std::string readBytes(int fd, std::size_t n) {
    std::string got;
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (got.size() < n) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
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

void writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = write(fd, bytes.data(), bytes.size());
        ASSERT_GT(n, 0);
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

// korvantemis-devsim started with the given options; its first output line
// is the pseudo-terminal's path.
class Devsim {
public:
    explicit Devsim(std::vector<std::string> options) {
        int out[2];
        EXPECT_EQ(pipe2(out, O_CLOEXEC), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        std::vector<std::string> args{KORV_DEVSIM_PROGRAM};
        args.insert(args.end(), options.begin(), options.end());
        std::vector<char*> argv;
        for (std::string& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        EXPECT_EQ(posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        stdout_ = out[0];
        ptyPath = readLine(stdout_);
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
        const auto deadline = std::chrono::steady_clock::now() + kPatience;
        while (!reaped() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(10ms);
        }
        return status_;
    }

    bool running() { return !reaped(); }

    pid_t pid() const { return pid_; }
    std::string ptyPath;

private:
    bool reaped() {
        int status = 0;
        if (!status_ && waitpid(pid_, &status, WNOHANG) == pid_) {
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        return status_.has_value();
    }

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

TEST(DevsimProgram, ServesAWholeUpdateOnAPseudoTerminal) {
    TempDir dir;
    const fs::path link = dir.path / "COM1";
    const fs::path saved = dir.path / "image.bin";
    Devsim devsim({"--link", link.string(), "--save", saved.string(), "--once",
                   "--name", "KV-9", "--version", "2.1"});
    ASSERT_FALSE(devsim.ptyPath.empty());
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

    std::ifstream file(saved, std::ios::binary);
    const std::string written{std::istreambuf_iterator<char>(file), {}};
    EXPECT_EQ(written, image);
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
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
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (exclusive && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
        const int port = open(devsim.ptyPath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(port, 0);
        exclusive = isExclusive(port);
        close(port);
    }
    EXPECT_FALSE(exclusive);
}

TEST(DevsimProgram, HangsUpAtTheChosenBlock) {
    TempDir dir;
    const fs::path link = dir.path / "COM2";
    Devsim devsim({"--link", link.string(), "--hangup-at", "1"});
    const int port = openPort(link);
    ASSERT_GE(port, 0);
    writeAll(port, "VERS");
    EXPECT_EQ(readBytes(port, 21).size(), 21u);
    const std::string image = testImage();
    writeAll(port, image.substr(0, kBlockSize));
    EXPECT_EQ(readBytes(port, 2).size(), 2u);
    writeAll(port, image.substr(kBlockSize, kBlockSize));
    EXPECT_EQ(devsim.exitStatus(), 0);
    char byte = 0;
    EXPECT_LE(read(port, &byte, 1), 0);
    close(port);
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
}

TEST(DevsimProgram, StopsOnTerminateAndRemovesItsLink) {
    TempDir dir;
    const fs::path link = dir.path / "COM3";
    Devsim devsim({"--link", link.string()});
    ASSERT_TRUE(fs::is_symlink(link));
    kill(devsim.pid(), SIGTERM);
    EXPECT_EQ(devsim.exitStatus(), 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
}

TEST(DevsimProgram, RefusesABadBlockNumber) {
    Devsim devsim({"--silent-at", "508"});
    EXPECT_TRUE(devsim.ptyPath.empty());
    EXPECT_EQ(devsim.exitStatus(), 2);
}

} // namespace
} // namespace korv::devsim
