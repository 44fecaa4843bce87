#include "serial/SerialDevice.h"

#include <mutex>
#include <windows.h>

#include "serial/win32/Win32Error.h"

namespace korv {
namespace {

using Clock = std::chrono::steady_clock;

// A driver may only get close to an odd rate (an adapter reports the rate
// its clock makes); within this the line still works, beyond it not. The
// same tolerance as on Linux.
constexpr unsigned kRateTolerancePerMille = 10;

bool rateClose(DWORD got, unsigned asked)
{
    const unsigned diff = got > asked ? got - asked : asked - static_cast<unsigned>(got);
    return diff * 1000u <= asked * kRateTolerancePerMille;
}

std::wstring widePath(const std::string& path)
{
    // Device paths are ASCII ("\\.\COM7").
    return std::wstring(path.begin(), path.end());
}

// Whether handle is a working serial port, not a file, a console or a
// device name that stands for nothing (such a name opens, but no port call
// then works).
SerialError checkSerialPort(HANDLE handle)
{
    const DWORD type = GetFileType(handle);
    if (type == FILE_TYPE_UNKNOWN)
        return SerialError::NotFound;
    if (type != FILE_TYPE_CHAR)
        return SerialError::NotATerminal;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    return GetCommState(handle, &dcb) ? SerialError::None : SerialError::NotATerminal;
}

// Waits for an overlapped operation on handle to end, or for stop to be
// raised, or for timeout; an operation not ended in time is cancelled and
// waited for, since its OVERLAPPED must outlive it. Returns the error of the
// operation (None when it succeeded) and the bytes it moved.
SerialError finishOverlapped(HANDLE handle, OVERLAPPED& op, HANDLE stop, DWORD timeout, DWORD& moved)
{
    const HANDLE waits[2] = {stop, op.hEvent};
    const DWORD woke = WaitForMultipleObjects(2, waits, FALSE, timeout);
    SerialError early = SerialError::None;
    if (woke == WAIT_OBJECT_0)
        early = SerialError::Cancelled;
    else if (woke == WAIT_TIMEOUT)
        early = SerialError::TimedOut;
    else if (woke != WAIT_OBJECT_0 + 1)
        early = errorFromWin32(GetLastError());
    if (early != SerialError::None)
        CancelIoEx(handle, &op);
    moved = 0;
    const bool done = GetOverlappedResult(handle, &op, &moved, TRUE);
    if (early != SerialError::None)
        return early;
    return done ? SerialError::None : errorFromWin32(GetLastError());
}

class Win32SerialDevice final : public SerialDevice {
public:
    Win32SerialDevice(HANDLE handle, HANDLE stop, HANDLE readDone, HANDLE bulkDone, HANDLE writeDone)
        : handle_(handle), stop_(stop), bulkDone_(bulkDone), writeDone_(writeDone)
    {
        waitRead_.hEvent = readDone;
    }

    ~Win32SerialDevice() override
    {
        if (readPending_) {
            CancelIoEx(handle_, &waitRead_);
            DWORD moved = 0;
            GetOverlappedResult(handle_, &waitRead_, &moved, TRUE);
        }
        CloseHandle(handle_);
        CloseHandle(stop_);
        CloseHandle(waitRead_.hEvent);
        CloseHandle(bulkDone_);
        CloseHandle(writeDone_);
    }

    SerialError configure(const LineSettings& settings) override
    {
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (!GetCommState(handle_, &dcb))
            return errorFromWin32(GetLastError());
        dcb.BaudRate = settings.bitRate;
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        dcb.fBinary = TRUE;
        dcb.fParity = FALSE;
        dcb.fOutxCtsFlow = FALSE;
        dcb.fOutxDsrFlow = FALSE;
        // DTR and RTS off for as long as the port is open.
        dcb.fDtrControl = DTR_CONTROL_DISABLE;
        dcb.fRtsControl = RTS_CONTROL_DISABLE;
        dcb.fDsrSensitivity = FALSE;
        dcb.fTXContinueOnXoff = TRUE;
        dcb.fOutX = FALSE;
        dcb.fInX = FALSE;
        // Faulty bytes are delivered as received, and a line error stops no I/O.
        dcb.fErrorChar = FALSE;
        dcb.fNull = FALSE;
        dcb.fAbortOnError = FALSE;
        if (!SetCommState(handle_, &dcb))
            return errorFromWin32(GetLastError());

        DCB back{};
        back.DCBlength = sizeof back;
        if (!GetCommState(handle_, &back))
            return errorFromWin32(GetLastError());
        if (back.ByteSize != 8 || back.Parity != NOPARITY || back.StopBits != ONESTOPBIT
            || !rateClose(back.BaudRate, settings.bitRate) || back.fOutxCtsFlow || back.fOutX || back.fInX)
            return SerialError::SettingsRefused;

        // No time-outs at all: a read waits until it has every byte it asked
        // for, which is what the reader's one-byte wait needs. readWaiting()
        // asks only for bytes already waiting.
        COMMTIMEOUTS timeouts{};
        if (!SetCommTimeouts(handle_, &timeouts))
            return errorFromWin32(GetLastError());
        return SerialError::None;
    }

    SerialError discardQueues() override { return purge(PURGE_RXCLEAR | PURGE_TXCLEAR); }
    SerialError discardInput() override { return purge(PURGE_RXCLEAR); }

    Wake waitForInput() override
    {
        // A one-byte read waits without polling; waiting for a comm event
        // instead polls on some drivers. The byte read is held for readWaiting().
        const HANDLE waits[2] = {stop_, waitRead_.hEvent};
        for (;;) {
            {
                std::lock_guard lock(mutex_);
                if (WaitForSingleObject(stop_, 0) == WAIT_OBJECT_0)
                    return Wake::Stopped;
                if (!held_.empty())
                    return Wake::Input;
                if (!readPending_ && !startWaitRead())
                    return Wake::Gone;
            }
            const DWORD woke = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
            if (woke == WAIT_OBJECT_0)
                return Wake::Stopped;
            if (woke != WAIT_OBJECT_0 + 1)
                return Wake::Gone;
            std::lock_guard lock(mutex_);
            // discardInput() may have taken the byte meanwhile: then read again.
            if (readPending_ && !collectWaitRead())
                return WaitForSingleObject(stop_, 0) == WAIT_OBJECT_0 ? Wake::Stopped : Wake::Gone;
        }
    }

    std::optional<std::string> readWaiting() override
    {
        std::lock_guard lock(mutex_);
        std::string text;
        text.swap(held_);
        DWORD errors = 0;
        COMSTAT status{};
        if (!ClearCommError(handle_, &errors, &status)) {
            if (text.empty())
                return std::nullopt;
            return text;
        }
        if (status.cbInQue == 0 || readPending_)
            return text;
        const std::size_t old = text.size();
        text.resize(old + status.cbInQue);
        OVERLAPPED op{};
        op.hEvent = bulkDone_;
        DWORD moved = 0;
        // The bytes are there already: the read ends at once.
        if (!ReadFile(handle_, text.data() + old, status.cbInQue, nullptr, &op)
            && GetLastError() != ERROR_IO_PENDING) {
            text.resize(old);
            return text;
        }
        finishOverlapped(handle_, op, stop_, INFINITE, moved);
        text.resize(old + moved);
        return text;
    }

    SerialError write(std::string_view bytes, std::chrono::milliseconds timeout) override
    {
        const Clock::time_point deadline = Clock::now() + timeout;
        while (!bytes.empty()) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0)
                return SerialError::TimedOut;
            OVERLAPPED op{};
            op.hEvent = writeDone_;
            const DWORD size = bytes.size() > MAXDWORD ? MAXDWORD : static_cast<DWORD>(bytes.size());
            if (!WriteFile(handle_, bytes.data(), size, nullptr, &op) && GetLastError() != ERROR_IO_PENDING)
                return errorFromWin32(GetLastError());
            DWORD moved = 0;
            const SerialError error = finishOverlapped(handle_, op, stop_, static_cast<DWORD>(left.count()), moved);
            if (error != SerialError::None)
                return error;
            bytes.remove_prefix(moved);
        }
        return SerialError::None;
    }

    SerialError drain(std::chrono::milliseconds timeout) override
    {
        // FlushFileBuffers() can be neither bounded nor cancelled: watch the
        // queue instead, and leave it only the transmitter's own few bytes.
        constexpr DWORD kQueueCheckMs = 1;
        const Clock::time_point deadline = Clock::now() + timeout;
        for (;;) {
            DWORD errors = 0;
            COMSTAT status{};
            if (!ClearCommError(handle_, &errors, &status))
                return errorFromWin32(GetLastError());
            if (status.cbOutQue == 0)
                break;
            if (Clock::now() >= deadline)
                return SerialError::TimedOut;
            if (WaitForSingleObject(stop_, kQueueCheckMs) == WAIT_OBJECT_0)
                return SerialError::Cancelled;
        }
        return FlushFileBuffers(handle_) ? SerialError::None : errorFromWin32(GetLastError());
    }

    void cancel() override
    {
        // Never reset: once raised, the event stays for every later wait.
        SetEvent(stop_);
    }

private:
    // With mutex_ held.
    bool startWaitRead()
    {
        waitRead_.Internal = waitRead_.InternalHigh = 0;
        waitRead_.Offset = waitRead_.OffsetHigh = 0;
        ResetEvent(waitRead_.hEvent);
        if (ReadFile(handle_, &waitByte_, 1, nullptr, &waitRead_) || GetLastError() == ERROR_IO_PENDING) {
            readPending_ = true;
            return true;
        }
        // A gone device refuses every read at once: trying again would spin.
        return false;
    }

    // With mutex_ held and the read ended. False when it failed or brought
    // nothing, which a read without time-outs does only on a device that no
    // longer answers.
    bool collectWaitRead()
    {
        DWORD moved = 0;
        const bool done = GetOverlappedResult(handle_, &waitRead_, &moved, FALSE);
        readPending_ = false;
        if (!done || moved != 1)
            return false;
        held_.push_back(waitByte_);
        return true;
    }

    SerialError purge(DWORD what)
    {
        std::lock_guard lock(mutex_);
        held_.clear();
        // A purge does not end a pending read everywhere: a byte it has
        // already taken is dropped here.
        if (readPending_ && HasOverlappedIoCompleted(&waitRead_)) {
            collectWaitRead();
            held_.clear();
        }
        return PurgeComm(handle_, what) ? SerialError::None : errorFromWin32(GetLastError());
    }

    const HANDLE handle_;
    const HANDLE stop_;       // manual-reset event raised by cancel()
    const HANDLE bulkDone_;   // for readWaiting()'s reads
    const HANDLE writeDone_;  // for write()
    std::mutex mutex_;        // held_ and the one-byte read, shared by the reader and the purges
    OVERLAPPED waitRead_{};
    char waitByte_ = 0;
    bool readPending_ = false;
    std::string held_;
};

// Opens path for exclusive use (no sharing). Returns the handle, or
// INVALID_HANDLE_VALUE with error set.
HANDLE openExclusive(const std::string& path, DWORD flags, SerialError& error)
{
    const HANDLE handle = CreateFileW(widePath(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = errorFromWin32(GetLastError());
        return handle;
    }
    error = checkSerialPort(handle);
    if (error != SerialError::None) {
        CloseHandle(handle);
        return INVALID_HANDLE_VALUE;
    }
    return handle;
}

} // namespace

OpenedDevice openSerialDevice(const std::string& path)
{
    SerialError error = SerialError::None;
    const HANDLE handle = openExclusive(path, FILE_FLAG_OVERLAPPED, error);
    if (handle == INVALID_HANDLE_VALUE)
        return {nullptr, error};
    HANDLE events[4] = {};
    for (HANDLE& event : events) {
        event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (event == nullptr) {
            error = errorFromWin32(GetLastError());
            for (HANDLE made : events) {
                if (made != nullptr)
                    CloseHandle(made);
            }
            CloseHandle(handle);
            return {nullptr, error};
        }
    }
    return {std::make_unique<Win32SerialDevice>(handle, events[0], events[1], events[2], events[3]),
            SerialError::None};
}

SerialError probeSerialDevice(const std::string& path)
{
    SerialError error = SerialError::None;
    const HANDLE handle = openExclusive(path, 0, error);
    if (handle != INVALID_HANDLE_VALUE)
        CloseHandle(handle);
    return error;
}

void raiseThisThreadPriority()
{
    // Within the process's priority class; refused, the reader carries on
    // at the normal priority.
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
}

} // namespace korv
