#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace korv::test {

// A pseudo-terminal pair for tests of real serial code: the slave stands in
// for a serial device, the master for the device at the far end of the line.
// The fixture keeps a slave descriptor of its own, so the pair lives on while
// the code under test closes and reopens the slave; that descriptor never
// reads, so all input goes to the code under test.
class Pty {
public:
    Pty();
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    bool isOpen() const { return master_ >= 0 && slave_ >= 0; }
    const std::string& slavePath() const { return slavePath_; }

    // Puts bytes on the line towards the slave, as the device would; false
    // if they could not all be written within limit. Any thread.
    bool send(std::string_view bytes, std::chrono::milliseconds limit = std::chrono::seconds(1));
    // The bytes the slave's side has written: waits up to limit for the
    // first, then takes all that are there (possibly none).
    std::string receiveAny(std::chrono::milliseconds limit);
    // Reads until count bytes have come or limit has passed.
    std::string receive(std::size_t count, std::chrono::milliseconds limit);
    // Reads until nothing more has come for quiet.
    std::string receiveUntilQuiet(std::chrono::milliseconds quiet);

    // Closes the master: the slave is hung up, as a serial device is when a
    // USB adapter is unplugged.
    void hangUp();

    // Takes or drops the slave's advisory exclusive lock, as another program
    // holding the port would; false if it could not be taken.
    bool lockSlave();
    void unlockSlave();

    // Whether the slave is in exclusive mode (TIOCEXCL), which refuses
    // further opens to all but root.
    bool exclusive() const;

    // The slave's line settings as the kernel holds them.
    struct Line {
        unsigned inputRate = 0;
        unsigned outputRate = 0;
        bool rateGivenExactly = false;  // BOTHER: not one of the fixed Bnnn rates
        int dataBits = 0;
        bool parity = false;
        int stopBits = 0;
        bool hardwareFlowControl = false;
        bool softwareFlowControl = false;  // IXON or IXOFF
        bool ignoresModemLines = false;    // CLOCAL
        bool receiverOn = false;           // CREAD
        bool rawInput = false;   // no line editing, echo, signals, CR/LF or parity handling
        bool rawOutput = false;  // no output processing
        int minChars = -1;       // VMIN
        int timeTenths = -1;     // VTIME
    };
    std::optional<Line> line() const;

private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
};

// A directory of its own under the system's temporary directory, removed
// with everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // path()/name as a symbolic link to target; returns that path.
    std::string link(const std::string& name, const std::string& target) const;
    // path()/name as a regular file holding content; returns that path.
    std::string file(const std::string& name, std::string_view content = {}) const;
    // path()/name as a directory; returns that path.
    std::string dir(const std::string& name) const;

private:
    std::string path_;
};

} // namespace korv::test
