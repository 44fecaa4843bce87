// korvantemis-devsim: a Korvantemis device's bootloader on a pseudo-terminal,
// for trying the program without hardware.

#include "devsim/DeviceModel.h"
#include "devsim/Options.h"
#include "devsim/Report.h"
#include "devsim/Wire.h"
#include "version/Version.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace {

using namespace korv::devsim;
using Clock = std::chrono::steady_clock;

// Between the writes of a reply that comes in pieces.
constexpr auto kPiecePause = std::chrono::milliseconds(20);

void log(const std::string& text) {
    std::fprintf(stderr, "korvantemis-devsim: %s\n", text.c_str());  // NOLINT(cert-err33-c): nowhere to report
}

[[noreturn]] void fail(const std::string& what) {
    throw std::runtime_error(what + ": " + std::generic_category().message(errno));
}

std::string hex4(std::uint16_t value) {
    char text[5];
    std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(value));  // NOLINT(cert-err33-c): fits
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

// A symbolic link to the pseudo-terminal, removed again at exit.
class Link {
public:
    Link(std::string at, const std::string& target) : at_(std::move(at)) {
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
    ~Link() { unlink(at_.c_str()); }
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

private:
    std::string at_;
};

// The port map's directory: the one given, made when missing, or without one
// a new temporary directory. A directory made here goes again at exit, unless
// someone else has put something in it meanwhile.
class PortDirectory {
public:
    explicit PortDirectory(const std::string& given) {
        if (given.empty()) {
            const char* base = std::getenv("TMPDIR");
            path_ = std::string(base != nullptr && *base != '\0' ? base : "/tmp") +
                    "/korvantemis-devsim.XXXXXX";
            if (mkdtemp(path_.data()) == nullptr) {
                fail("cannot create a directory like " + path_);
            }
            made_ = true;
            return;
        }
        path_ = given;
        if (mkdir(path_.c_str(), 0777) == 0) {
            made_ = true;
            return;
        }
        struct stat st{};
        if (errno != EEXIST || stat(path_.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            if (errno == EEXIST) {
                errno = ENOTDIR;
            }
            fail("cannot use " + path_ + " as the port map");
        }
    }
    ~PortDirectory() {
        if (made_) {
            rmdir(path_.c_str());
        }
    }
    PortDirectory(const PortDirectory&) = delete;
    PortDirectory& operator=(const PortDirectory&) = delete;

    const std::string& path() const { return path_; }

private:
    std::string path_;
    bool made_ = false;
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

// The device behind the terminal: feeds the model what the program sends and
// hands out its replies when they are due.
class Emulator {
public:
    Emulator(const Options& config, const Pty& pty) : config_(config), pty_(pty), model_(config.device) {
        if (config.pace) {
            wire_.emplace();
        }
    }

    // Bytes the program sent, read at `readAt`. The model gets them one at a
    // time, so each reply is timed from the very byte it answers.
    void take(std::string_view bytes, Clock::time_point readAt) {
        std::vector<Clock::time_point> arrivals;
        if (wire_) {
            arrivals = wire_->receive(readAt, bytes.size());
        }
        std::size_t unexpected = 0;
        for (std::size_t i = 0; i < bytes.size() && !ending_; ++i) {
            const std::size_t imageBefore = model_.image().size();
            const Output out = model_.feed(bytes.substr(i, 1));
            if (update_.acknowledgedAt && model_.image().size() > imageBefore &&
                imageBefore % kBlockSize == 0) {
                update_.turnaroundsUs.push_back(
                    std::chrono::duration<double, std::micro>(readAt - *update_.acknowledgedAt).count());
                update_.acknowledgedAt.reset();
            }
            bool blockReply = false;
            bool finished = false;
            for (const Event& event : out.events) {
                if (event.kind == EventKind::Unexpected) {
                    unexpected += event.bytes.size();
                } else {
                    blockReply = blockReply || event.kind == EventKind::BlockReceived;
                    finished = finished || event.kind == EventKind::Finished;
                    handle(event, readAt);
                }
            }
            if (!update_.firstImageByte && !model_.image().empty()) {
                update_.firstImageByte = readAt;
            }
            if (!out.writes.empty()) {
                Clock::time_point ready = wire_ ? arrivals[i] : readAt;
                if (blockReply) {
                    ready += config_.blockDelay;
                }
                schedule(out.writes, ready, blockReply && !finished);
            }
            if (out.hangUp) {
                ending_ = true;
                hangUp_ = true;
            }
        }
        if (unexpected > 0) {
            log("ignored " + std::to_string(unexpected) + " unexpected byte(s)");
        }
    }

    void writeDue(Clock::time_point now) {
        while (!queue_.empty() && queue_.front().due <= now) {
            pty_.writeAll(queue_.front().bytes);
            if (queue_.front().endsAcknowledgement) {
                update_.acknowledgedAt = Clock::now();
            }
            queue_.pop_front();
        }
    }

    std::optional<Clock::time_point> nextDue() const {
        if (queue_.empty()) {
            return std::nullopt;
        }
        return queue_.front().due;
    }

    // No more input is wanted: the line is to be closed, or --once is done.
    bool ending() const { return ending_; }
    bool hangUp() const { return hangUp_; }

    // At exit: reports the update in progress, unless nothing came since the
    // last report.
    void reportUnreported() {
        if (!update_.reported) {
            reportUpdate();
        }
    }

private:
    struct Update {
        bool identified = false;
        std::optional<Clock::time_point> firstImageByte;
        std::optional<double> seconds;
        bool reported = false;
        // When the last acknowledgement was written, until the next block's
        // first byte is read; the program's turnaround for each block.
        std::optional<Clock::time_point> acknowledgedAt;
        std::vector<double> turnaroundsUs;
    };

    struct Pending {
        Clock::time_point due;
        std::string bytes;
        bool endsAcknowledgement = false;  // the last write of a block's acknowledgement
    };

    // Reports what happened, before the replies go out, so that a saved image
    // is complete by the time the program can know the transfer finished.
    void handle(const Event& event, Clock::time_point readAt) {
        switch (event.kind) {
        case EventKind::Identified:
            log("identity request answered: " + model_.identity());
            update_ = Update{};
            update_.identified = true;
            break;
        case EventKind::IdentityWithheld:
            log("identity request left unanswered");
            break;
        case EventKind::BlockReceived:
        case EventKind::Unexpected:
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
            break;
        case EventKind::Finished:
            log(event.block == kBlockCount - 1
                    ? "all " + std::to_string(kBlockCount) + " blocks received, CRC " + hex4(event.crc)
                    : "block " + std::to_string(event.block) + " answered as the last, CRC " +
                          hex4(event.crc));
            if (!config_.save.empty()) {
                saveImage(config_.save, model_.image());
            }
            break;
        case EventKind::Started:
            log("PUSK received: update complete");
            if (update_.firstImageByte) {
                update_.seconds =
                    std::chrono::duration<double>(readAt - *update_.firstImageByte).count();
            }
            reportUpdate();
            ending_ = ending_ || config_.once;
            break;
        }
    }

    void reportUpdate() {
        const UpdateReport report =
            describeUpdate(update_.identified, model_.image(), update_.seconds, update_.turnaroundsUs);
        log("update report: " + toText(report));
        if (!config_.report.empty() && !replaceFile(config_.report, toJson(report) + "\n")) {
            log("cannot write the report to " + config_.report);
        }
        update_.reported = true;
    }

    // The writes of one reply, the first no sooner than `ready`.
    void schedule(const std::vector<std::string>& writes, Clock::time_point ready,
                  bool acknowledgement) {
        const auto endsAcknowledgement = [&](std::size_t i) {
            return acknowledgement && i + 1 == writes.size();
        };
        if (wire_) {
            const std::vector<Clock::time_point> due = wire_->transmit(ready, writes, kPiecePause);
            for (std::size_t i = 0; i < writes.size(); ++i) {
                queue_.push_back(Pending{due[i], writes[i], endsAcknowledgement(i)});
            }
            return;
        }
        Clock::time_point due = queue_.empty() ? ready : std::max(ready, queue_.back().due);
        for (std::size_t i = 0; i < writes.size(); ++i) {
            if (i > 0) {
                due += kPiecePause;
            }
            queue_.push_back(Pending{due, writes[i], endsAcknowledgement(i)});
        }
    }

    const Options& config_;
    const Pty& pty_;
    DeviceModel model_;
    std::optional<Wire> wire_;
    std::deque<Pending> queue_;
    Update update_;
    bool ending_ = false;
    bool hangUp_ = false;
};

timespec until(Clock::time_point due, Clock::time_point now) {
    const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::max(due - now, Clock::duration::zero()));
    return timespec{static_cast<time_t>(left.count() / 1000000000),
                    static_cast<long>(left.count() % 1000000000)};
}

int run(const Options& config) {
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    if (pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr) != 0) {
        fail("cannot block signals");
    }
    const int signalFd = signalfd(-1, &stopSignals, SFD_CLOEXEC);
    if (signalFd < 0) {
        fail("cannot watch signals");
    }

    Pty pty;
    std::optional<PortDirectory> portMap;
    if (!config.portMap.empty() || config.link.empty()) {
        portMap.emplace(config.portMap);
    }
    const std::string portName = "COM" + std::to_string(config.port.value_or(1));
    std::optional<Link> portLink;
    if (portMap) {
        portLink.emplace(portMap->path() + "/" + portName, pty.path());
    }
    std::optional<Link> link;
    if (!config.link.empty()) {
        link.emplace(config.link, pty.path());
    }
    // These lines are how whoever started the emulator learns where the port
    // is: without them there is no one to serve.
    if (std::printf("device %s\nport-map %s\nport %s\n", pty.path().c_str(),
                    portMap ? portMap->path().c_str() : "-", portMap ? portName.c_str() : "-") < 0 ||
        std::fflush(stdout) != 0) {
        fail("cannot write standard output");
    }

    Emulator emulator(config, pty);
    char buffer[4096];
    for (;;) {
        emulator.writeDue(Clock::now());
        const std::optional<Clock::time_point> due = emulator.nextDue();
        if (emulator.ending() && !due) {
            if (emulator.hangUp()) {
                pty.close();
            }
            emulator.reportUnreported();
            return 0;
        }
        timespec wait{};
        if (due) {
            wait = until(*due, Clock::now());
        }
        pollfd fds[3] = {{signalFd, POLLIN, 0},
                         {pty.closeWatch(), POLLIN, 0},
                         {emulator.ending() ? -1 : pty.master(), POLLIN, 0}};
        if (ppoll(fds, 3, due ? &wait : nullptr, nullptr) < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail("cannot wait for input");
        }
        if (fds[0].revents != 0) {
            // Bytes the program wrote before the signal was sent count: a
            // "PUSK" written just before it must show in the report.
            int waiting = 0;
            while (!emulator.ending() && ioctl(pty.master(), FIONREAD, &waiting) == 0 && waiting > 0) {
                const ssize_t n = read(pty.master(), buffer,
                                       std::min(sizeof buffer, static_cast<std::size_t>(waiting)));
                if (n <= 0) {
                    break;
                }
                emulator.take(std::string_view(buffer, static_cast<std::size_t>(n)), Clock::now());
            }
            log("stopped by a signal");
            emulator.reportUnreported();
            return 0;
        }
        if (fds[1].revents != 0) {
            pty.portClosed();
        }
        if (fds[2].revents == 0) {
            continue;
        }
        const ssize_t n = read(pty.master(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                continue;
            }
            fail("cannot read from " + pty.path());
        }
        emulator.take(std::string_view(buffer, static_cast<std::size_t>(n)), Clock::now());
    }
}

} // namespace

int main(int argc, char** argv) {
    const ParsedArguments parsed = parseArguments({argv + 1, argv + argc});
    switch (parsed.outcome) {
    case ParsedArguments::Outcome::Help:
        return std::fputs(kUsage, stdout) >= 0 && std::fflush(stdout) == 0 ? 0 : 1;
    case ParsedArguments::Outcome::Version:
        return std::printf("korvantemis-devsim %s\n", korv::kProjectVersion) >= 0 && std::fflush(stdout) == 0
                   ? 0
                   : 1;
    case ParsedArguments::Outcome::UsageError:
        // NOLINTNEXTLINE(cert-err33-c): nowhere to report
        std::fprintf(stderr, "korvantemis-devsim: %s\n\n%s", parsed.error.c_str(), kUsage);
        return 2;
    case ParsedArguments::Outcome::Run:
        break;
    }
    try {
        return run(parsed.options);
    } catch (const std::exception& error) {
        log(error.what());
        return 1;
    }
}
