#include "cli/InterruptWatcher.h"

#include <atomic>
#include <mutex>
#include <windows.h>

namespace korv::cli {
namespace {

// How long closing the console waits for the program to close the port and
// say what happened; the system ends the program soon after anyway.
constexpr DWORD kCloseGraceMs = 4000;

} // namespace

struct InterruptWatcher::Impl {
    std::atomic<bool> interrupted{false};
    std::mutex mutex;  // held while onInterrupt runs
    std::function<void()> onInterrupt;
    HANDLE finished = nullptr;  // raised when the watcher goes, that is when the program ends

    static std::atomic<Impl*> current;

    // Runs on a thread the system starts for each console event.
    static BOOL WINAPI handle(DWORD event)
    {
        Impl* impl = current.load();
        if (impl == nullptr)
            return FALSE;
        switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            break;
        default:
            return FALSE;
        }
        impl->interrupted = true;
        const HANDLE finished = impl->finished;
        {
            std::lock_guard lock(impl->mutex);
            if (impl->onInterrupt)
                impl->onInterrupt();
        }
        // For a closing console the program ends when this returns: wait
        // for it to end by itself first.
        if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && finished != nullptr)
            WaitForSingleObject(finished, kCloseGraceMs);
        return TRUE;
    }
};

std::atomic<InterruptWatcher::Impl*> InterruptWatcher::Impl::current{nullptr};

InterruptWatcher::InterruptWatcher() : impl_(std::make_unique<Impl>())
{
    impl_->finished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    Impl::current = impl_.get();
    if (!SetConsoleCtrlHandler(&Impl::handle, TRUE))
        giveUp();
}

void InterruptWatcher::giveUp()
{
    // Nobody takes the events: Ctrl-C ends the program as usual rather than
    // leave it deaf.
    Impl::current = nullptr;
}

InterruptWatcher::~InterruptWatcher()
{
    SetConsoleCtrlHandler(&Impl::handle, FALSE);
    Impl::current = nullptr;
    {
        std::lock_guard lock(impl_->mutex);
        impl_->onInterrupt = nullptr;
    }
    if (impl_->finished != nullptr)
        SetEvent(impl_->finished);
    // A handler the system started just before may still be using the
    // state: it stays, once per program, until the process ends.
    impl_.release();  // NOLINT(bugprone-unused-return-value): left to the process's end
}

void InterruptWatcher::watch(std::function<void()> onInterrupt)
{
    std::lock_guard lock(impl_->mutex);
    impl_->onInterrupt = std::move(onInterrupt);
}

bool InterruptWatcher::interrupted() const
{
    return impl_->interrupted;
}

} // namespace korv::cli
