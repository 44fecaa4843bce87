#include "serial/SerialPortChannel.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "serial/PortName.h"
#include "serial/SerialDevice.h"

namespace korv {
namespace {

constexpr std::chrono::milliseconds kWriteTimeoutBase{1000};
constexpr std::chrono::milliseconds kWriteTimeoutPerByte{100};
// The longest a drain waits: the output queue of a USB adapter holds a few
// kilobytes, under a second at the line's rate.
constexpr std::chrono::milliseconds kDrainTimeout{2000};
// Closing lets the bytes already written leave first, for at most what a
// full output queue (the kernel's transmit buffer, one page) needs at the
// line's rate, plus a margin for an adapter's own buffer; usually the queue
// is empty long before.
constexpr std::size_t kOutputQueueBytes = 4096;
constexpr unsigned kBitsPerByte = 10;  // start bit, 8 data bits, stop bit
constexpr std::chrono::milliseconds kCloseDrainMargin{100};
constexpr std::chrono::milliseconds kCloseDrainLimit =
    std::chrono::milliseconds(kOutputQueueBytes * kBitsPerByte * 1000 / LineSettings{}.bitRate + 1)
    + kCloseDrainMargin;

// One opening of the port, from a successful open to its close. The reader
// thread and every write belong to one session; once it has ended they touch
// the device no more, whatever was opened since.
struct Session {
    explicit Session(std::unique_ptr<SerialDevice> opened) : device(std::move(opened)) {}

    // Released by close, under writeMutex, once the reader is out of its I/O.
    std::unique_ptr<SerialDevice> device;
    std::thread reader;

    std::mutex mutex;
    std::condition_variable readerLeftIo;
    bool ended = false;       // close has begun
    bool readerInIo = false;  // waiting for input or reading: never waits on the window
    bool readerDone = false;  // the reader thread's last act, so joining it does not wait

    // Held only around the kernel I/O of one write, which the write time-out
    // and cancel() bound: whoever waits for it never waits long.
    std::mutex writeMutex;
    // Writes of the reader thread not yet handed on; under writeMutex.
    std::string gathered;

    bool hasEnded()
    {
        std::lock_guard lock(mutex);
        return ended;
    }
};

// The most a reader gathers before handing it on: a block and its
// neighbours, well inside the system's output buffer.
constexpr std::size_t kGatherLimit = 4096;

// Hands bytes to the device with the time-out their number earns; with
// writeMutex held and the session not ended.
void writeNow(Session& session, std::string_view bytes)
{
    // Whether the bytes went out is not reported: the device's reply, or its
    // silence, tells the program all it needs.
    session.device->write(bytes, kWriteTimeoutBase
                                     + kWriteTimeoutPerByte * static_cast<long long>(bytes.size()));
}

// With writeMutex held.
void flushGathered(Session& session)
{
    if (session.gathered.empty())
        return;
    if (!session.hasEnded())
        writeNow(session, session.gathered);
    session.gathered.clear();
}

// On a reader thread: the channel and session it reads for. A write made
// from there belongs to that session, not to whatever port is open now.
struct ReaderContext {
    const SerialPortChannel* channel = nullptr;
    Session* session = nullptr;
};
thread_local ReaderContext t_reader;

void runReader(SerialPortChannel& channel, Session& session)
{
    t_reader = {&channel, &session};
    raiseThisThreadPriority();
    for (;;) {
        {
            std::lock_guard lock(session.mutex);
            if (session.ended)
                break;
            session.readerInIo = true;
        }
        std::optional<std::string> text;
        if (session.device->waitForInput() == SerialDevice::Wake::Input)
            text = session.device->readWaiting();
        bool ended;
        {
            std::lock_guard lock(session.mutex);
            session.readerInIo = false;
            ended = session.ended;
        }
        session.readerLeftIo.notify_all();
        // Stopped, or the device has gone: there is nothing more to watch.
        if (ended || !text)
            break;
        // Everything the program does with the text runs here, and may wait
        // on the window thread; bytes arriving meanwhile wait for the next turn.
        channel.receivedText.fire(TData(std::move(*text)));
        std::lock_guard lock(session.writeMutex);
        flushGathered(session);
    }
    std::lock_guard lock(session.mutex);
    session.readerDone = true;
}

} // namespace

struct SerialPortChannel::Impl {
    Impl(PortMap map, ReaderWrites mode, SerialDeviceOpener opener)
        : ports(std::move(map)), readerWrites(mode), openDevice(std::move(opener))
    {
    }

    std::shared_ptr<Session> start(SerialPortChannel& channel, const std::string& path)
    {
        OpenedDevice opened = openDevice(path);
        if (!opened.device || opened.device->configure(LineSettings{}) != SerialError::None
            || opened.device->discardQueues() != SerialError::None)
            return nullptr;
        auto session = std::make_shared<Session>(std::move(opened.device));
        try {
            session->reader = std::thread(runReader, std::ref(channel), std::ref(*session));
        } catch (const std::system_error&) {
            return nullptr;
        }
        return session;
    }

    void end(std::shared_ptr<Session> session)
    {
        {
            std::lock_guard lock(session->mutex);
            session->ended = true;
        }
        // From here no write of this session reaches the device (they check
        // ended under writeMutex); what was written before may still be on
        // its way, such as the "PUSK" that starts the device, and leaves first.
        // A write still under way (a device that does not take its bytes)
        // is not waited for past the drain's own limit: cancel() ends it.
        bool drained = false;
        const auto deadline = std::chrono::steady_clock::now() + kCloseDrainLimit;
        std::unique_lock writing(session->writeMutex, std::try_to_lock);
        while (!writing.owns_lock() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            writing.try_lock();
        }
        if (writing.owns_lock()) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            drained = session->device->drain(std::max(left, std::chrono::milliseconds(1))) == SerialError::None;
            writing.unlock();
        }
        session->device->cancel();
        {
            // The reader's I/O calls return at once after cancel(), so this
            // wait is short; a reader busy with a received text is not waited for.
            std::unique_lock lock(session->mutex);
            session->readerLeftIo.wait(lock, [&] { return !session->readerInIo; });
        }
        {
            std::lock_guard lock(session->writeMutex);
            session->gathered.clear();
            // What could not leave in time is dropped, so that closing the
            // descriptor does not wait for it.
            if (drained)
                session->device->discardInput();
            else
                session->device->discardQueues();
            session->device.reset();
        }
        retired.push_back(std::move(session));
    }

    // Joins the retired readers that have finished; the others may still be
    // handling a received text and are left alone.
    void joinFinished()
    {
        std::erase_if(retired, [](const std::shared_ptr<Session>& session) {
            {
                std::lock_guard lock(session->mutex);
                if (!session->readerDone)
                    return false;
            }
            session->reader.join();
            return true;
        });
    }

    const PortMap ports;
    const ReaderWrites readerWrites;
    const SerialDeviceOpener openDevice;
    std::mutex currentMutex;
    std::shared_ptr<Session> current;  // set while the port is open
    std::vector<std::shared_ptr<Session>> retired;  // window thread only
};

SerialPortChannel::SerialPortChannel(PortMap ports, ReaderWrites readerWrites,
                                     SerialDeviceOpener openDevice)
    : impl_(std::make_unique<Impl>(std::move(ports), readerWrites, std::move(openDevice)))
{
}

SerialPortChannel::~SerialPortChannel()
{
    release();
}

void SerialPortChannel::release()
{
    close();
    for (const std::shared_ptr<Session>& session : impl_->retired)
        session->reader.join();
    impl_->retired.clear();
}

Operation SerialPortChannel::openOp()
{
    return [this](TData) { open(); };
}

Operation SerialPortChannel::closeOp()
{
    return [this](TData) { close(); };
}

Operation SerialPortChannel::writeOp()
{
    return [this](TData value) { write(value); };
}

Operation SerialPortChannel::runDiscoveryOp()
{
    return [this](TData) { runDiscovery(); };
}

void SerialPortChannel::open()
{
    impl_->joinFinished();
    {
        std::lock_guard lock(impl_->currentMutex);
        if (impl_->current)
            return;
    }
    const std::string name = portName.read().toText();
    const int number = portNumberFromName(name);
    const std::optional<std::string> path = number != 0 ? impl_->ports.deviceFor(name) : std::nullopt;
    std::shared_ptr<Session> session = path ? impl_->start(*this, *path) : nullptr;
    if (!session) {
        openResult.fire(TData(std::int32_t{0}));
        return;
    }
    {
        std::lock_guard lock(impl_->currentMutex);
        impl_->current = std::move(session);
    }
    openResult.fire(TData(std::int32_t{number}));
}

void SerialPortChannel::close()
{
    std::shared_ptr<Session> session;
    {
        std::lock_guard lock(impl_->currentMutex);
        session = std::move(impl_->current);
    }
    if (session)
        impl_->end(std::move(session));
    impl_->joinFinished();
}

void SerialPortChannel::write(const TData& value)
{
    std::shared_ptr<Session> held;
    Session* session = nullptr;
    if (t_reader.channel == this) {
        session = t_reader.session;
    } else {
        std::lock_guard lock(impl_->currentMutex);
        held = impl_->current;
        session = held.get();
    }
    if (!session)
        return;
    const std::string text = value.toText();
    std::lock_guard lock(session->writeMutex);
    if (session->hasEnded())
        return;
    if (impl_->readerWrites == ReaderWrites::Gathered && t_reader.channel == this) {
        session->gathered += text;
        if (session->gathered.size() >= kGatherLimit)
            flushGathered(*session);
        return;
    }
    // Whatever the reader gathered was written earlier, so it goes first.
    flushGathered(*session);
    writeNow(*session, text);
}

void SerialPortChannel::flushReaderWrites()
{
    if (t_reader.channel != this)
        return;
    std::lock_guard lock(t_reader.session->writeMutex);
    flushGathered(*t_reader.session);
}

bool SerialPortChannel::drain()
{
    std::shared_ptr<Session> session;
    {
        std::lock_guard lock(impl_->currentMutex);
        session = impl_->current;
    }
    if (!session)
        return false;
    std::lock_guard lock(session->writeMutex);
    if (session->hasEnded())
        return false;
    flushGathered(*session);
    return session->device->drain(kDrainTimeout) == SerialError::None;
}

void SerialPortChannel::runDiscovery()
{
    for (const auto& [number, path] : impl_->ports.inListingOrder()) {
        if (probeSerialDevice(path) == SerialError::None)
            portFound.fire(TData(portNameOf(number)));
    }
}

} // namespace korv
