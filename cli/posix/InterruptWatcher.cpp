#include "cli/InterruptWatcher.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <mutex>
#include <poll.h>
#include <pthread.h>
#include <system_error>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <thread>
#include <unistd.h>

namespace korv::cli {

struct InterruptWatcher::Impl {
    sigset_t signals{};
    int signalFd = -1;
    int stopFd = -1;
    std::atomic<bool> interrupted{false};
    std::mutex mutex;  // held while onInterrupt runs
    std::function<void()> onInterrupt;
    std::thread thread;

    void run()
    {
        pollfd fds[2] = {{signalFd, POLLIN, 0}, {stopFd, POLLIN, 0}};
        for (;;) {
            if (::poll(fds, 2, -1) < 0) {
                // Signals not watched here may still interrupt the wait; any
                // other failure would repeat for ever, so the watching ends.
                if (errno == EINTR)
                    continue;
                return;
            }
            if (fds[1].revents != 0)
                return;
            signalfd_siginfo info{};
            if (::read(signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
                interrupted = true;
                std::lock_guard lock(mutex);
                if (onInterrupt)
                    onInterrupt();
            }
        }
    }
};

InterruptWatcher::InterruptWatcher() : impl_(std::make_unique<Impl>())
{
    sigemptyset(&impl_->signals);
    sigaddset(&impl_->signals, SIGINT);
    sigaddset(&impl_->signals, SIGTERM);
    sigaddset(&impl_->signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &impl_->signals, nullptr);
    impl_->signalFd = signalfd(-1, &impl_->signals, SFD_CLOEXEC);
    impl_->stopFd = eventfd(0, EFD_CLOEXEC);
    if (impl_->signalFd < 0 || impl_->stopFd < 0)
        giveUp();
}

void InterruptWatcher::giveUp()
{
    // Nobody would take the signals: let them end the program as usual
    // rather than leave it deaf to Ctrl-C.
    pthread_sigmask(SIG_UNBLOCK, &impl_->signals, nullptr);
    if (impl_->signalFd >= 0)
        ::close(impl_->signalFd);
    if (impl_->stopFd >= 0)
        ::close(impl_->stopFd);
    impl_->signalFd = impl_->stopFd = -1;
}

InterruptWatcher::~InterruptWatcher()
{
    if (impl_->thread.joinable()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(impl_->stopFd, &one, sizeof one);
        impl_->thread.join();
    }
    if (impl_->signalFd >= 0)
        ::close(impl_->signalFd);
    if (impl_->stopFd >= 0)
        ::close(impl_->stopFd);
}

void InterruptWatcher::watch(std::function<void()> onInterrupt)
{
    {
        std::lock_guard lock(impl_->mutex);
        impl_->onInterrupt = std::move(onInterrupt);
    }
    if (impl_->signalFd < 0 || impl_->thread.joinable())
        return;
    try {
        impl_->thread = std::thread([this] { impl_->run(); });
    } catch (const std::system_error&) {
        giveUp();
    }
}

bool InterruptWatcher::interrupted() const
{
    return impl_->interrupted;
}

} // namespace korv::cli
