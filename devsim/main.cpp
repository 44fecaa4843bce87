// korvantemis-devsim: a Korvantemis device's bootloader on a pseudo-terminal,
// for trying the program without hardware.

#include "devsim/DeviceModel.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>

namespace {

using namespace korv::devsim;
using Clock = std::chrono::steady_clock;

constexpr const char* kUsage =
    "usage: korvantemis-devsim [options]\n"
    "\n"
    "Opens a pseudo-terminal, prints its path and answers there as the device's\n"
    "bootloader: \"VERS\" gets the identity, each 256-byte block its CRC-16/MODBUS,\n"
    "the last block the value and \"FZ\", and \"PUSK\" completes the update.\n"
    "\n"
    "  --link PATH        make PATH a symbolic link to the pseudo-terminal\n"
    "  --name NAME        device name in the identity reply (default KV-12)\n"
    "  --version VERSION  firmware version in the identity reply (default 8.6)\n"
    "  --save FILE        write the received image to FILE after the last block\n"
    "  --pace             answer no sooner than the bytes would take at 38462 bit/s\n"
    "  --once             exit after the first completed update\n"
    "  --wrong-crc-at N   answer block N (0..507) with a wrong value\n"
    "  --silent-at N      answer nothing from block N on\n"
    "  --split-replies    send each reply in two writes, 20 ms apart\n"
    "  --hangup-at N      close the pseudo-terminal when block N has arrived\n"
    "  --help             show this text\n";

// 10 bits on the line per byte (start, 8 data, stop).
constexpr double kBytesPerSecond = 38462.0 / 10.0;
constexpr auto kSplitGap = std::chrono::milliseconds(20);

struct Config {
    DeviceOptions device;
    std::string link;
    std::string save;
    bool pace = false;
    bool once = false;
};

void log(const std::string& text) {
    std::fprintf(stderr, "korvantemis-devsim: %s\n", text.c_str());
}

[[noreturn]] void usageError(const std::string& text) {
    std::fprintf(stderr, "korvantemis-devsim: %s\n\n%s", text.c_str(), kUsage);
    std::exit(2);
}

int parseBlock(std::string_view option, std::string_view text) {
    int value = -1;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < 0 ||
        value >= kBlockCount) {
        usageError(std::string(option) + " takes a block number from 0 to " +
                   std::to_string(kBlockCount - 1));
    }
    return value;
}

Config parseArguments(int argc, char** argv) {
    Config config;
    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        auto value = [&]() -> std::string_view {
            if (i + 1 >= argc) {
                usageError(std::string(option) + " needs a value");
            }
            return argv[++i];
        };
        if (option == "--help") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (option == "--link") {
            config.link = value();
        } else if (option == "--name") {
            config.device.name = value();
        } else if (option == "--version") {
            config.device.version = value();
        } else if (option == "--save") {
            config.save = value();
        } else if (option == "--pace") {
            config.pace = true;
        } else if (option == "--once") {
            config.once = true;
        } else if (option == "--wrong-crc-at") {
            config.device.wrongCrcAt = parseBlock(option, value());
        } else if (option == "--silent-at") {
            config.device.silentAt = parseBlock(option, value());
        } else if (option == "--split-replies") {
            config.device.splitReplies = true;
        } else if (option == "--hangup-at") {
            config.device.hangupAt = parseBlock(option, value());
        } else {
            usageError("unknown option " + std::string(option));
        }
    }
    return config;
}

[[noreturn]] void fail(const std::string& what) {
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

std::string hex4(std::uint16_t value) {
    char text[5];
    std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(value));
    return text;
}

// A pseudo-terminal whose slave side stays open here as well, so that the
// master never sees a hang-up while the program has the port closed.
//
// Holding the slave open has one side effect a real port does not have: a
// program's exclusive use (TIOCEXCL) would outlive its close, and a user
// without root could not open the port again. So each close of the slave is
// watched for, and exclusive use is ended as the last close of a real port
// ends it.
class Pty {
public:
    Pty() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
            fail("cannot create a pseudo-terminal");
        }
        char name[128];
        if (ptsname_r(master_, name, sizeof name) != 0) {
            fail("cannot name the pseudo-terminal");
        }
        path_ = name;
        slave_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (slave_ < 0) {
            fail("cannot open " + path_);
        }
        termios settings{};
        if (tcgetattr(slave_, &settings) != 0) {
            fail("cannot read the settings of " + path_);
        }
        cfmakeraw(&settings);
        if (tcsetattr(slave_, TCSANOW, &settings) != 0) {
            fail("cannot set " + path_ + " to raw mode");
        }
        closes_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (closes_ < 0 ||
            inotify_add_watch(closes_, name, IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0) {
            fail("cannot watch " + path_);
        }
    }
    ~Pty() { close(); }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    void close() {
        if (closes_ >= 0) {
            ::close(closes_);
            closes_ = -1;
        }
        if (slave_ >= 0) {
            ::close(slave_);
            slave_ = -1;
        }
        if (master_ >= 0) {
            ::close(master_);
            master_ = -1;
        }
    }

    int master() const { return master_; }
    int closeWatch() const { return closes_; }

    // Called when closeWatch() is readable: the program has closed the port.
    void portClosed() const {
        char events[4096];
        while (read(closes_, events, sizeof events) > 0) {
        }
        ioctl(slave_, TIOCNXCL);
    }
    const std::string& path() const { return path_; }

    void writeAll(std::string_view bytes) const {
        while (!bytes.empty()) {
            const ssize_t n = ::write(master_, bytes.data(), bytes.size());
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                fail("cannot write to " + path_);
            }
            bytes.remove_prefix(static_cast<std::size_t>(n));
        }
    }

private:
    int master_ = -1;
    int slave_ = -1;
    int closes_ = -1;
    std::string path_;
};

// The symbolic link given with --link, removed again at exit.
class Link {
public:
    Link(std::string at, const std::string& target) : at_(std::move(at)) {
        if (at_.empty()) {
            return;
        }
        struct stat st{};
        if (lstat(at_.c_str(), &st) == 0) {
            if (!S_ISLNK(st.st_mode)) {
                errno = EEXIST;
                fail("will not replace " + at_);
            }
            unlink(at_.c_str());
        }
        if (symlink(target.c_str(), at_.c_str()) != 0) {
            fail("cannot link " + at_ + " to " + target);
        }
    }
    ~Link() {
        if (!at_.empty()) {
            unlink(at_.c_str());
        }
    }
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

private:
    std::string at_;
};

void saveImage(const std::string& path, const std::string& image) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(image.data(), static_cast<std::streamsize>(image.size()));
    if (!file.flush()) {
        log("cannot write the image to " + path);
        return;
    }
    log("image saved to " + path);
}

// Reports what happened, before the replies go out, so that a saved image is
// complete by the time the program can know the transfer finished. True when
// the emulator should stop.
bool report(const Output& out, const DeviceModel& model, const Config& config) {
    bool stop = false;
    for (const Event& event : out.events) {
        switch (event.kind) {
        case EventKind::Identified:
            log("identity request answered: " + model.identity());
            break;
        case EventKind::BlockReceived:
            break;
        case EventKind::WrongAck:
            log("block " + std::to_string(event.block) + " answered with the wrong value " +
                hex4(event.crc));
            break;
        case EventKind::WentSilent:
            log("block " + std::to_string(event.block) + " arrived; answering nothing from now on");
            break;
        case EventKind::HangUp:
            log("block " + std::to_string(event.block) + " arrived; hanging up");
            stop = true;
            break;
        case EventKind::Finished:
            log("all " + std::to_string(kBlockCount) + " blocks received, CRC " + hex4(event.crc));
            if (!config.save.empty()) {
                saveImage(config.save, model.image());
            }
            break;
        case EventKind::Started:
            log("PUSK received: update complete");
            stop = stop || config.once;
            break;
        case EventKind::Unexpected:
            log("ignored " + std::to_string(event.bytes.size()) + " unexpected byte(s)");
            break;
        }
    }
    return stop;
}

// With --pace, the time the line would have needed for the bytes since the
// previous reply and for this reply.
class Pacer {
public:
    explicit Pacer(bool enabled) : enabled_(enabled) {}
    void received(std::size_t bytes) { owed_ += bytes; }
    void beforeReply(std::size_t bytes) {
        if (!enabled_) {
            return;
        }
        owed_ += bytes;
        const auto due = last_ + std::chrono::duration_cast<Clock::duration>(
                                     std::chrono::duration<double>(owed_ / kBytesPerSecond));
        std::this_thread::sleep_until(due);
        last_ = Clock::now();
        owed_ = 0;
    }

private:
    bool enabled_;
    Clock::time_point last_ = Clock::now();
    std::size_t owed_ = 0;
};

int run(const Config& config) {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    if (sigprocmask(SIG_BLOCK, &signals, nullptr) != 0) {
        fail("cannot block signals");
    }
    const int signalFd = signalfd(-1, &signals, SFD_CLOEXEC);
    if (signalFd < 0) {
        fail("cannot watch signals");
    }

    Pty pty;
    Link link(config.link, pty.path());
    std::printf("%s\n", pty.path().c_str());
    std::fflush(stdout);

    DeviceModel model(config.device);
    Pacer pacer(config.pace);
    char buffer[4096];
    for (;;) {
        pollfd fds[3] = {
            {pty.master(), POLLIN, 0}, {signalFd, POLLIN, 0}, {pty.closeWatch(), POLLIN, 0}};
        if (poll(fds, 3, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail("cannot wait for input");
        }
        if (fds[1].revents != 0) {
            log("stopped by a signal");
            return 0;
        }
        if (fds[2].revents != 0) {
            pty.portClosed();
        }
        if (fds[0].revents == 0) {
            continue;
        }
        const ssize_t n = read(pty.master(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                continue;
            }
            fail("cannot read from " + pty.path());
        }
        pacer.received(static_cast<std::size_t>(n));
        const Output out = model.feed(std::string_view(buffer, static_cast<std::size_t>(n)));
        const bool stop = report(out, model, config);
        for (std::size_t i = 0; i < out.writes.size(); ++i) {
            if (i == 0) {
                pacer.beforeReply(out.writes[i].size());
            } else {
                std::this_thread::sleep_for(kSplitGap);
                pacer.received(out.writes[i].size());
            }
            pty.writeAll(out.writes[i]);
        }
        if (out.hangUp) {
            pty.close();
        }
        if (stop) {
            return 0;
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    const Config config = parseArguments(argc, argv);
    try {
        return run(config);
    } catch (const std::exception& error) {
        log(error.what());
        return 1;
    }
}
