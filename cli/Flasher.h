#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>

#include "image/ImageStore.h"
#include "link/Elements.h"
#include "serial/PortMap.h"
#include "serial/SerialPortChannel.h"
#include "ui/WindowDispatcher.h"
#include "update/Identification.h"
#include "update/ReplyTimer.h"
#include "update/Transfer.h"

namespace korv::cli {

// The accepted identity reply, as the device sent it, and its words.
struct Identity {
    std::string reply;
    std::string name;     // the second word
    std::string version;  // the third word
};

struct Progress {
    int blocks = 0;            // acknowledged by the device
    std::size_t bytes = 0;     // in those blocks
    double seconds = 0;        // since the first block was sent
};

// Why a transfer failed: a reply that did not match, or the device's silence.
struct TransferFailure {
    bool silent = false;
    bool beforeStart = false;   // the reply came before the first block went out
    int block = 0;              // 1-based: the block whose reply failed; past the
                                // last when a reply after it was taken for an acknowledgement
    std::string replyHex;       // the reply's bytes in hex
    std::string expectedHex;    // the check value the reply should have carried
};

enum class Outcome {
    Identified,
    Updated,
    // The device sent its finished reply before the last block: the image
    // is incomplete, and the device was not told to start it.
    FinishedEarly,
    OpenFailed,
    NotIdentified,
    TransferFailed,
    Interrupted,
};

// The update without a window: the same identification, transfer, check
// value and serial channel as the window program, wired alike, driven from
// the thread that constructs it. That thread stands where the window thread
// stands in the window program: it opens and closes the port and starts the
// transfer, and it waits only through the dispatcher, so a reader thread
// that needs the transfer's turn is never kept waiting on it.
class Flasher {
public:
    struct Parts {
        PortMap ports;
        ReplyTimerFactory makeTimer;
        ImageStore image;
    };

    explicit Flasher(Parts parts);
    ~Flasher();
    Flasher(const Flasher&) = delete;
    Flasher& operator=(const Flasher&) = delete;

    // Opens the port and asks the device who it is, waiting at most timeout
    // for an accepted reply: Identified, OpenFailed, NotIdentified or Interrupted.
    Outcome identify(const std::string& portName, std::chrono::milliseconds timeout);

    // After identify(): writes the image and starts it. onProgress runs on
    // this thread every progressPeriod while the transfer runs. Updated,
    // FinishedEarly, TransferFailed or Interrupted; the port is closed afterwards.
    Outcome write(const std::function<void(const Progress&)>& onProgress,
                  std::chrono::milliseconds progressPeriod);

    // Closes the port, letting the last bytes written leave it first.
    void close();

    // Any thread, also a signal watcher's: ends the current wait with Interrupted.
    void interrupt();

    Identity identity() const;
    // The last text received before the device identified (empty if none).
    std::string lastRejectedReply() const;
    Progress progress() const;
    TransferFailure failure() const;

private:
    void wire();
    void received(const TData& text);
    void identified();
    void transferFailed(const TData& value);
    bool holdsBackStart(const TData& bytes);
    bool ended() const;

    WindowDispatcher dispatcher_;
    Identification identification_;
    Transfer transfer_;
    RoutingSwitch routingSwitch_{2};
    SerialPortChannel serial_;
    FanOut sendMerge_{2, 1};
    FanOut receivedTap_{1, 2};
    FanOut openTap_{1, 2};
    ValueCell portNameCell_;
    ValueCell checkValueField_;

    std::atomic<bool> interrupted_{false};
    std::atomic<int> openResult_{0};
    std::atomic<bool> identified_{false};
    std::atomic<bool> finished_{false};
    std::atomic<bool> startHeldBack_{false};
    std::atomic<bool> failed_{false};
    std::atomic<bool> started_{false};
    std::atomic<int> blocks_{0};
    // The driving thread's own: when the transfer began and when it ended.
    std::chrono::steady_clock::time_point startedAt_;
    std::chrono::steady_clock::time_point endedAt_;

    mutable std::mutex mutex_;  // guards the texts below, written on the reader thread
    std::string lastReceived_;
    TransferFailure failure_;
    Identity identity_;          // written before identified_ is raised
};

} // namespace korv::cli
