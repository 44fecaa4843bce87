#include "support/Pty.h"

#include <asm/termbits.h>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace korv::test {
namespace {

using Clock = std::chrono::steady_clock;

int msLeft(Clock::time_point deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

} // namespace

Pty::Pty()
{
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (master_ < 0)
        return;
    char name[128];
    if (grantpt(master_) != 0 || unlockpt(master_) != 0 || ptsname_r(master_, name, sizeof name) != 0)
        return;
    slavePath_ = name;
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
}

Pty::~Pty()
{
    if (slave_ >= 0)
        ::close(slave_);
    if (master_ >= 0)
        ::close(master_);
}

bool Pty::send(std::string_view bytes, std::chrono::milliseconds limit)
{
    const Clock::time_point deadline = Clock::now() + limit;
    while (!bytes.empty()) {
        const ssize_t n = ::write(master_, bytes.data(), bytes.size());
        if (n > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        const int left = msLeft(deadline);
        if (left == 0)
            return false;
        pollfd p{master_, POLLOUT, 0};
        ::poll(&p, 1, left);
    }
    return true;
}

std::string Pty::receiveAny(std::chrono::milliseconds limit)
{
    std::string got;
    pollfd p{master_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(limit.count())) <= 0 || (p.revents & POLLIN) == 0)
        return got;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n <= 0)
            return got;
        got.append(buffer, static_cast<std::size_t>(n));
    }
}

std::string Pty::receive(std::size_t count, std::chrono::milliseconds limit)
{
    const Clock::time_point deadline = Clock::now() + limit;
    std::string got;
    while (got.size() < count) {
        const int left = msLeft(deadline);
        if (left == 0)
            break;
        got += receiveAny(std::chrono::milliseconds(left));
    }
    return got;
}

std::string Pty::receiveUntilQuiet(std::chrono::milliseconds quiet)
{
    std::string got;
    for (std::string more = receiveAny(quiet); !more.empty(); more = receiveAny(quiet))
        got += more;
    return got;
}

void Pty::hangUp()
{
    if (master_ >= 0)
        ::close(master_);
    master_ = -1;
}

bool Pty::lockSlave()
{
    return flock(slave_, LOCK_EX | LOCK_NB) == 0;
}

void Pty::unlockSlave()
{
    flock(slave_, LOCK_UN);
}

bool Pty::exclusive() const
{
    int on = 0;
    return ioctl(slave_, TIOCGEXCL, &on) == 0 && on != 0;
}

std::optional<Pty::Line> Pty::line() const
{
    struct termios2 t {};
    if (ioctl(slave_, TCGETS2, &t) != 0)
        return std::nullopt;
    Line line;
    line.inputRate = t.c_ispeed;
    line.outputRate = t.c_ospeed;
    line.rateGivenExactly = (t.c_cflag & CBAUD) == BOTHER;
    switch (t.c_cflag & CSIZE) {
    case CS5: line.dataBits = 5; break;
    case CS6: line.dataBits = 6; break;
    case CS7: line.dataBits = 7; break;
    default: line.dataBits = 8; break;
    }
    line.parity = (t.c_cflag & PARENB) != 0;
    line.stopBits = (t.c_cflag & CSTOPB) != 0 ? 2 : 1;
    line.hardwareFlowControl = (t.c_cflag & CRTSCTS) != 0;
    line.softwareFlowControl = (t.c_iflag & (IXON | IXOFF)) != 0;
    line.ignoresModemLines = (t.c_cflag & CLOCAL) != 0;
    line.receiverOn = (t.c_cflag & CREAD) != 0;
    line.rawInput = (t.c_lflag & (ICANON | ECHO | ECHONL | ISIG | IEXTEN)) == 0
                    && (t.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | INPCK | PARMRK | BRKINT)) == 0;
    line.rawOutput = (t.c_oflag & OPOST) == 0;
    line.minChars = t.c_cc[VMIN];
    line.timeTenths = t.c_cc[VTIME];
    return line;
}

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "korv-test-XXXXXX").string();
    if (mkdtemp(pattern.data()))
        path_ = pattern;
}

TempDir::~TempDir()
{
    std::error_code ec;
    if (!path_.empty())
        std::filesystem::remove_all(path_, ec);
}

std::string TempDir::link(const std::string& name, const std::string& target) const
{
    std::string at = path_ + "/" + name;
    std::error_code ec;
    std::filesystem::create_symlink(target, at, ec);
    return at;
}

std::string TempDir::file(const std::string& name, std::string_view content) const
{
    std::string at = path_ + "/" + name;
    std::ofstream(at, std::ios::binary).write(content.data(), static_cast<std::streamsize>(content.size()));
    return at;
}

std::string TempDir::dir(const std::string& name) const
{
    std::string at = path_ + "/" + name;
    std::error_code ec;
    std::filesystem::create_directories(at, ec);
    return at;
}

} // namespace korv::test
