#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace korv {

// What can go wrong with a serial device, whatever the operating system.
// Each backend maps its own error codes to these in one function.
enum class SerialError {
    None,
    NotFound,         // no such device
    Busy,             // held by another program, or by this one
    AccessDenied,
    NotATerminal,     // a file or device that is not a serial line
    SettingsRefused,  // the line settings were not taken as asked
    TimedOut,
    Cancelled,        // cancel() was called
    Gone,             // the device went away (unplugged, hung up)
    Io,               // any other failure
};

// The line the device speaks: fixed for the whole program.
struct LineSettings {
    unsigned bitRate = 38462;  // exactly this, not the nearest standard rate
    // Always 8 data bits, no parity, 1 stop bit, raw binary data both ways,
    // no hardware or software flow control, modem lines ignored, DTR and RTS
    // held off, reads returning at once with what is waiting.
};

// One open serial device, held exclusively. The backend of the serial port
// channel: the channel's own logic (name check, sessions, reader thread) is
// the same on every system.
//
// waitForInput() and readWaiting() are called by one reader thread; write()
// by one thread at a time; cancel() from any thread, at any time.
class SerialDevice {
public:
    virtual ~SerialDevice() = default;  // closes the device
    SerialDevice() = default;
    SerialDevice(const SerialDevice&) = delete;
    SerialDevice& operator=(const SerialDevice&) = delete;

    virtual SerialError configure(const LineSettings& settings) = 0;
    // Drops whatever waits in the input and output queues.
    virtual SerialError discardQueues() = 0;
    // Drops only what waits in the input queue. After a drain the output
    // queue is empty, and discarding it may still lose bytes in flight (a
    // pseudo-terminal drops what its far end has not taken yet).
    virtual SerialError discardInput() = 0;

    enum class Wake { Input, Stopped, Gone };
    // Waits without a time limit until bytes are waiting, cancel() is
    // called, or the device has gone.
    virtual Wake waitForInput() = 0;
    // Exactly the bytes waiting now, read at once (possibly none; empty too
    // when the read fails); nothing when the device no longer answers.
    virtual std::optional<std::string> readWaiting() = 0;

    // All of bytes, in order, or failure once timeout has run out.
    virtual SerialError write(std::string_view bytes, std::chrono::milliseconds timeout) = 0;

    // Waits until every byte written has left the output queue, the time
    // limit has run out or cancel() is called; closing discards what is left.
    virtual SerialError drain(std::chrono::milliseconds timeout) = 0;

    // From now on waitForInput(), write() and drain() return at once, also the ones
    // already waiting. For good: the device is to be closed.
    virtual void cancel() = 0;
};

struct OpenedDevice {
    std::unique_ptr<SerialDevice> device;  // null on failure
    SerialError error = SerialError::None;
};

// Opens the serial device at path for reading and writing, exclusively, so
// that a second open by this or another cooperating program fails. Refuses
// anything that is not a serial line. The line settings are not touched yet.
OpenedDevice openSerialDevice(const std::string& path);

// How the serial port channel opens the device behind a port name: the
// system's openSerialDevice, or a stand-in device for tests and harnesses.
using SerialDeviceOpener = std::function<OpenedDevice(const std::string& path)>;

// Whether the device at path could be opened exclusively at this moment:
// opened without waiting and without changing its settings, closed at once.
SerialError probeSerialDevice(const std::string& path);

// Asks for a raised scheduling priority for the calling thread; carries on
// at the normal one if the system refuses.
void raiseThisThreadPriority();

} // namespace korv
