#include "serial/SerialDevice.h"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include "serial/linux/RawLine.h"

namespace korv {
namespace {

using Clock = std::chrono::steady_clock;

// The one place where this system's error codes become ours.
SerialError errorFromErrno(int code)
{
    switch (code) {
    case 0:
        return SerialError::None;
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTDIR:
        return SerialError::NotFound;
    case EBUSY:
    case EWOULDBLOCK:
        return SerialError::Busy;
    case EACCES:
    case EPERM:
    case EROFS:
        return SerialError::AccessDenied;
    case ENOTTY:
    case EISDIR:
        return SerialError::NotATerminal;
    case EINVAL:
        return SerialError::SettingsRefused;
    case ETIMEDOUT:
        return SerialError::TimedOut;
    case EIO:
    case EPIPE:
        return SerialError::Gone;
    default:
        return SerialError::Io;
    }
}

bool hungUp(short revents) { return (revents & (POLLHUP | POLLERR | POLLNVAL)) != 0; }

int closeKeepingErrno(int fd)
{
    const int code = errno;
    ::close(fd);
    return code;
}

// Opens path without waiting for a carrier and without making it the
// controlling terminal; fails unless it is a tty and this open holds the
// advisory exclusive lock. Returns the descriptor, or -errno.
int openLockedTty(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return -errno;
    if (!isatty(fd)) {
        ::close(fd);
        return -ENOTTY;
    }
    // TIOCEXCL alone does not keep out a second open by root; the lock keeps
    // out every program that asks for it, this one included.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0)
        return -closeKeepingErrno(fd);
    return fd;
}

class LinuxSerialDevice final : public SerialDevice {
public:
    LinuxSerialDevice(int fd, int stopFd) : fd_(fd), stop_(stopFd) {}
    ~LinuxSerialDevice() override
    {
        // The exclusive mode outlives this descriptor while others hold the
        // tty open (a pseudo-terminal's far end, a monitor): drop it, so the
        // port can be opened again at once.
        ioctl(fd_, TIOCNXCL);
        ::close(fd_);
        ::close(stop_);
    }

    SerialError configure(const LineSettings& settings) override
    {
        if (const int code = linux_tty::applyRawLine(fd_, settings.bitRate))
            return errorFromErrno(code);
        // DTR and RTS off for as long as the port is open; a line without
        // modem lines (a pseudo-terminal) has nothing to turn off.
        const int lines = TIOCM_DTR | TIOCM_RTS;
        if (ioctl(fd_, TIOCMBIC, &lines) != 0 && errno != ENOTTY && errno != EINVAL)
            return errorFromErrno(errno);
        askLowLatency();
        return SerialError::None;
    }

    SerialError discardQueues() override
    {
        // Queue sizes, replacement of faulty bytes and aborting I/O after a
        // line error have no counterpart here: the tty layer keeps its own
        // buffers, always delivers faulty bytes as received (no parity check
        // is asked for) and never stops I/O on a line error.
        return tcflush(fd_, TCIOFLUSH) == 0 ? SerialError::None : errorFromErrno(errno);
    }

    SerialError discardInput() override
    {
        return tcflush(fd_, TCIFLUSH) == 0 ? SerialError::None : errorFromErrno(errno);
    }

    Wake waitForInput() override
    {
        pollfd fds[2] = {{fd_, POLLIN, 0}, {stop_, POLLIN, 0}};
        for (;;) {
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR)
                    continue;
                return Wake::Gone;
            }
            if (fds[1].revents != 0)
                return Wake::Stopped;
            // A device that has gone reports this for ever, and reads give
            // nothing: watching it further would only spin.
            if (hungUp(fds[0].revents))
                return Wake::Gone;
            if ((fds[0].revents & POLLIN) != 0)
                return Wake::Input;
        }
    }

    std::optional<std::string> readWaiting() override
    {
        int waiting = 0;
        if (ioctl(fd_, FIONREAD, &waiting) != 0 || waiting < 0)
            return std::nullopt;
        std::string text(static_cast<std::size_t>(waiting), '\0');
        if (waiting == 0)
            return text;
        ssize_t got;
        do
            got = ::read(fd_, text.data(), text.size());
        while (got < 0 && errno == EINTR);
        text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
        return text;
    }

    SerialError write(std::string_view bytes, std::chrono::milliseconds timeout) override
    {
        const Clock::time_point deadline = Clock::now() + timeout;
        while (!bytes.empty()) {
            const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
            if (n > 0) {
                bytes.remove_prefix(static_cast<std::size_t>(n));
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno != EAGAIN)
                return errorFromErrno(errno);
            // The output buffer is full: wait for room, the deadline or cancel().
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0)
                return SerialError::TimedOut;
            pollfd fds[2] = {{fd_, POLLOUT, 0}, {stop_, POLLIN, 0}};
            if (::poll(fds, 2, static_cast<int>(left.count())) < 0 && errno != EINTR)
                return errorFromErrno(errno);
            if (fds[1].revents != 0)
                return SerialError::Cancelled;
            if (hungUp(fds[0].revents))
                return SerialError::Gone;
        }
        return SerialError::None;
    }

    SerialError drain(std::chrono::milliseconds timeout) override
    {
        // tcdrain() can be neither bounded nor cancelled: watch the queue
        // instead, and leave tcdrain() only the transmitter's own few bytes.
        constexpr std::chrono::milliseconds kQueueCheck{1};
        const Clock::time_point deadline = Clock::now() + timeout;
        for (;;) {
            int queued = 0;
            if (ioctl(fd_, TIOCOUTQ, &queued) != 0)
                return errorFromErrno(errno);
            if (queued <= 0)
                break;
            if (Clock::now() >= deadline)
                return SerialError::TimedOut;
            pollfd stop{stop_, POLLIN, 0};
            if (::poll(&stop, 1, static_cast<int>(kQueueCheck.count())) > 0)
                return SerialError::Cancelled;
        }
        return tcdrain(fd_) == 0 ? SerialError::None : errorFromErrno(errno);
    }

    void cancel() override
    {
        // Never drained: once raised, the signal stays for every later poll.
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(stop_, &one, sizeof one);
    }

private:
    void askLowLatency()
    {
        // USB adapters otherwise hold received bytes up to 16 ms. Drivers
        // without the setting refuse it, which changes nothing.
        serial_struct info {};
        if (ioctl(fd_, TIOCGSERIAL, &info) != 0 || (info.flags & ASYNC_LOW_LATENCY) != 0)
            return;
        info.flags |= ASYNC_LOW_LATENCY;
        ioctl(fd_, TIOCSSERIAL, &info);
    }

    const int fd_;
    const int stop_;  // eventfd: raised by cancel()
};

} // namespace

OpenedDevice openSerialDevice(const std::string& path)
{
    const int fd = openLockedTty(path);
    if (fd < 0)
        return {nullptr, errorFromErrno(-fd)};
    const int stopFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (stopFd < 0)
        return {nullptr, errorFromErrno(closeKeepingErrno(fd))};
    auto device = std::make_unique<LinuxSerialDevice>(fd, stopFd);
    if (ioctl(fd, TIOCEXCL) != 0)
        return {nullptr, errorFromErrno(errno)};
    return {std::move(device), SerialError::None};
}

SerialError probeSerialDevice(const std::string& path)
{
    // Opening a tty raises DTR and RTS, and closing it drops them again (with
    // HUPCL, the usual setting): the device may see a short pulse. The probe
    // changes no setting and closes at once to keep the pulse short.
    const int fd = openLockedTty(path);
    if (fd < 0)
        return errorFromErrno(-fd);
    ::close(fd);
    return SerialError::None;
}

void raiseThisThreadPriority()
{
    // Nice values are per thread on Linux. Without the privilege the call is
    // refused and the reader runs at the normal priority.
    constexpr int kReaderNice = -5;
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kReaderNice);
}

} // namespace korv
