#include "cli/Flasher.h"

#include <algorithm>

#include "update/CheckValue.h"

namespace korv::cli {
namespace {

using Clock = std::chrono::steady_clock;

// Bytes the kernel has handed on may still sit in a USB adapter's own
// buffer; the port stays open this long after a drain before it is closed.
constexpr std::chrono::milliseconds kCloseSettle{100};
// What the transfer sends on the finished reply to start the new firmware.
constexpr const char* kStartCommand = "PUSK";

} // namespace

Flasher::Flasher(Parts parts)
    : transfer_(dispatcher_, std::move(parts.image), parts.makeTimer),
      // Each block goes out in one piece: the per-byte writes of the
      // transfer would otherwise cost a system call each.
      serial_(std::move(parts.ports), SerialPortChannel::ReaderWrites::Gathered)
{
    checkValueField_.put(TData(valueText(crc16::kStart)));
    wire();
    delivery::switchOn();
}

Flasher::~Flasher()
{
    delivery::switchOffForGood();
    dispatcher_.shutDown();
    // Reader and timer threads end before any element they reach is released.
    serial_.release();
    transfer_.release();
}

// One connection a line, as the window program wires the same elements.
void Flasher::wire()
{
    // identification
    connect(identification_.event(0), sendMerge_.in(0));
    connect(identification_.event(2), serial_.openOp());
    connect(identification_.event(4), [this](TData) { identified(); });
    // transfer
    // Counted here: the event's own block number starts again at 0 after the last block.
    connect(transfer_.event(0), [this](TData) { ++blocks_; });
    connect(transfer_.event(1), [this, send = sendMerge_.in(1)](TData bytes) {
        if (!holdsBackStart(bytes))
            send(std::move(bytes));
    });
    connect(transfer_.event(2), [this](TData) { finished_ = true; dispatcher_.wake(); });
    connect(transfer_.event(3), [this](TData value) { transferFailed(value); });
    connect(transfer_.event(4), checkValueField_.store());
    connect(transfer_.dataInput(0), checkValueField_.read());
    // send merge
    connect(sendMerge_.out(0), serial_.writeOp());
    // routing switch
    connect(routingSwitch_.route(), identification_.valueOutput(0));
    connect(routingSwitch_.out(0), identification_.input(2));
    connect(routingSwitch_.out(1), transfer_.input(0));
    // serial port channel
    connect(serial_.openResult, openTap_.in(0));
    connect(serial_.receivedText, receivedTap_.in(0));
    connect(serial_.portName, portNameCell_.read());
    // taps: the flasher looks first, then the value goes on
    connect(openTap_.out(0), [this](TData result) { openResult_ = result.toInt(); });
    connect(openTap_.out(1), identification_.input(0));
    connect(receivedTap_.out(0), [this](TData text) { received(text); });
    connect(receivedTap_.out(1), routingSwitch_.in());
}

Outcome Flasher::identify(const std::string& portName, std::chrono::milliseconds timeout)
{
    portNameCell_.put(TData(portName));
    identification_.input(1)(TData(portName));
    if (openResult_ == 0)
        return Outcome::OpenFailed;
    dispatcher_.waitUntil([this] { return identified_ || interrupted_; }, Clock::now() + timeout);
    if (identified_)
        return Outcome::Identified;
    return interrupted_ ? Outcome::Interrupted : Outcome::NotIdentified;
}

Outcome Flasher::write(const std::function<void(const Progress&)>& onProgress,
                       std::chrono::milliseconds progressPeriod)
{
    // A stray text after the identity reply has already been judged, and
    // failed, by the transfer: writing now would start from a failure.
    if (!failed_ && !interrupted_) {
        startedAt_ = Clock::now();
        started_ = true;
        transfer_.input(1)(TData(std::int32_t{1}));
        while (!dispatcher_.waitUntil([this] { return ended(); }, Clock::now() + progressPeriod))
            onProgress(progress());
        endedAt_ = Clock::now();
    }
    if (finished_ && startHeldBack_) {
        close();
        return Outcome::FinishedEarly;
    }
    if (finished_) {
        // "PUSK" is the last thing written: it must leave before the close
        // discards what is still queued.
        serial_.drain();
        dispatcher_.waitUntil([] { return false; }, Clock::now() + kCloseSettle);
        close();
        return Outcome::Updated;
    }
    close();
    return failed_ ? Outcome::TransferFailed : Outcome::Interrupted;
}

void Flasher::close()
{
    serial_.close();
}

void Flasher::interrupt()
{
    interrupted_ = true;
    dispatcher_.wake();
}

bool Flasher::ended() const
{
    return finished_ || failed_ || interrupted_;
}

void Flasher::received(const TData& text)
{
    if (identified_)
        return;
    std::lock_guard lock(mutex_);
    lastReceived_ = text.toText();
}

void Flasher::identified()
{
    {
        std::lock_guard lock(mutex_);
        const ReplyWords words = replyWords(lastReceived_);
        identity_ = {lastReceived_, std::string(words.second), std::string(words.third)};
    }
    identified_ = true;
    dispatcher_.wake();
}

void Flasher::transferFailed(const TData& value)
{
    // The first failure is the one that tells why; replies after it (the
    // rest of a split reply) only repeat it.
    if (finished_ || failed_)
        return;
    {
        std::lock_guard lock(mutex_);
        failure_.beforeStart = !started_;
        failure_.block = blocks_ + 1;
        if (value.kind() == TData::Kind::Integer) {
            failure_.silent = true;
        } else {
            failure_.replyHex = value.toText();
            failure_.expectedHex = checkValueField_.get().toText();
            if (failure_.block == Transfer::kBlocks)
                failure_.expectedHex += hexRendering("FZ");
        }
    }
    failed_ = true;
    dispatcher_.wake();
}

// The transfer takes any finished reply, also one before the last block, and
// then sends the start command at once. Here the device is not told to start
// an image that did not all reach it: it stays in its bootloader, ready for
// another attempt.
bool Flasher::holdsBackStart(const TData& bytes)
{
    // The finished reply acknowledges the block it answers: blocks_ does not count it yet.
    if (blocks_ + 1 >= Transfer::kBlocks || bytes.kind() != TData::Kind::Text || bytes.toText() != kStartCommand)
        return false;
    startHeldBack_ = true;
    return true;
}

Identity Flasher::identity() const
{
    std::lock_guard lock(mutex_);
    return identity_;
}

std::string Flasher::lastRejectedReply() const
{
    std::lock_guard lock(mutex_);
    return identified_ ? std::string() : lastReceived_;
}

Progress Flasher::progress() const
{
    Progress p;
    p.blocks = std::min(blocks_.load() + (finished_ ? 1 : 0), Transfer::kBlocks);
    p.bytes = static_cast<std::size_t>(p.blocks) * Transfer::kBlockSize;
    if (started_) {
        const Clock::time_point until = endedAt_ == Clock::time_point{} ? Clock::now() : endedAt_;
        p.seconds = std::chrono::duration<double>(until - startedAt_).count();
    }
    return p;
}

TransferFailure Flasher::failure() const
{
    std::lock_guard lock(mutex_);
    return failure_;
}

} // namespace korv::cli
