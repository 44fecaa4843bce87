#pragma once

#include <memory>
#include <string>

#include "link/Link.h"
#include "serial/PortMap.h"
#include "serial/SerialDevice.h"

namespace korv {

// The program's one connection to the device: one serial port, opened by a
// "COM<n>" name with fixed line settings, with a reader thread that reports
// the bytes waiting at each wake-up as one received text. Also runs port
// discovery, which only probe-opens ports for a moment.
//
// open, close and runDiscovery are called on the window thread; write from
// any thread: each write's bytes go out together, in the order the writes
// were made.
//
// close never waits for a reader thread that is busy with a received text
// (which may be waiting on the window thread). Once close has returned, no
// reader of the closed port starts another report, and their writes go
// nowhere, not to a port opened since. Such readers are joined as soon as they have finished, at
// the latest by the destructor, which must therefore run only after event
// delivery has been switched off and the window dispatcher shut down.
class SerialPortChannel {
public:
    // How writes made while a received text is handled reach the port.
    enum class ReaderWrites {
        // Each write is handed to the system before it returns.
        EachAtOnce,
        // They are gathered and handed on together once the handling ends,
        // or earlier when a write from another thread, a drain or the
        // amount gathered calls for it; order is kept all the same. A block
        // answered byte by byte then costs one system call, not hundreds.
        Gathered,
    };

    explicit SerialPortChannel(PortMap ports, ReaderWrites readerWrites = ReaderWrites::EachAtOnce,
                               SerialDeviceOpener openDevice = openSerialDevice);
    ~SerialPortChannel();  // closes the port if still open
    SerialPortChannel(const SerialPortChannel&) = delete;
    SerialPortChannel& operator=(const SerialPortChannel&) = delete;

    // Link-model operations.
    Operation openOp();
    Operation closeOp();
    Operation writeOp();
    Operation runDiscoveryOp();

    void open();
    void close();
    void write(const TData& value);
    void runDiscovery();
    // On a reader thread that gathers its writes: hands on what it has
    // gathered so far, before it waits for something that must come after
    // those bytes (the window showing that the update is done, say).
    // Elsewhere it does nothing.
    void flushReaderWrites();
    // Waits until the bytes written so far have left the port, so that a
    // close right after does not discard them; false when they could not
    // within a time limit or no port is open.
    bool drain();
    // Closes the port and waits for every reader thread to end, so that no
    // received text reaches anything any more. Only once event delivery is
    // off and the window dispatcher shut down, like the destructor.
    void release();

    EventOut openResult;    // integer: port number 1..255, or 0
    EventOut receivedText;  // text, on the reader thread
    EventOut portFound;     // text: a port name
    DataIn portName;        // read at each open

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace korv
