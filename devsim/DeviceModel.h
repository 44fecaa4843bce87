#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The device side of the update exchange, without any I/O: bytes from the
// program go in, the bytes the device answers with come out.
namespace korv::devsim {

inline constexpr int kBlockSize = 256;
inline constexpr int kBlockCount = 508;
inline constexpr int kImageSize = kBlockSize * kBlockCount;

// CRC-16/MODBUS: reflected polynomial 0xA001, initial value 0xFFFF, no final
// exclusive-or.
std::uint16_t crc16ModbusStep(std::uint16_t crc, std::uint8_t byte);
std::uint16_t crc16Modbus(std::string_view bytes, std::uint16_t crc = 0xFFFF);

// The faults are meant one at a time; the program refuses more.
struct DeviceOptions {
    std::string name = "KV-12";
    std::string version = "8.6";
    // Block numbers count from 0 to kBlockCount - 1.
    std::optional<int> wrongCrcAt;      // answer this block with a wrong value
    std::optional<int> silentAt;        // answer nothing from this block on
    std::optional<int> hangupAt;        // close the line when this block has arrived
    bool splitReplies = false;          // hand out each reply as two writes
    std::optional<int> splitAckAt;      // this block's value as two writes of one byte
    std::optional<int> junkBeforeAckAt; // a zero byte as a write of its own before this block's reply
    bool splitFinished = false;         // the finished reply as its value, then "FZ"
    std::optional<int> finishAt;        // answer this block with the finished reply, as if it were the last
    bool noIdentity = false;            // leave "VERS" unanswered
    bool splitIdentity = false;         // the identity reply as two writes, cut after "KORVA"
};

enum class EventKind {
    Identified,       // "VERS" arrived and the identity reply goes out
    IdentityWithheld, // "VERS" arrived and stays unanswered
    BlockReceived,    // block `block` is complete; `crc` is the value over all bytes so far
    WrongAck,         // block `block` is answered with the wrong value `crc`
    WentSilent,       // block `block` and everything after it stay unanswered
    HangUp,           // block `block` arrived and the line is to be closed
    Finished,         // the last block (or the finishAt one) arrived and the finished reply goes out
    Started,          // "PUSK" arrived: the update is complete
    Unexpected,       // `bytes` fit no step of the exchange and were dropped
};

struct Event {
    EventKind kind;
    int block = -1;
    std::uint16_t crc = 0;
    std::string bytes;
};

struct Output {
    // Each to be written on its own, in order. Several writes answering the
    // same byte are one reply in pieces, meant to go out a short pause apart.
    std::vector<std::string> writes;
    std::vector<Event> events;       // in the order they happened
    bool hangUp = false;
};

class DeviceModel {
public:
    enum class Stage { AwaitingIdentity, Receiving, AwaitingStart, Silent, HungUp };

    explicit DeviceModel(DeviceOptions options = {});

    Output feed(std::string_view bytes);

    Stage stage() const { return stage_; }
    // The image bytes of the update in progress, or of the last one.
    const std::string& image() const { return image_; }
    std::uint16_t crc() const { return crc_; }
    // "KORVANTEMIS <name> <version>".
    std::string identity() const;

private:
    void take(char byte, Output& out);
    void takeImageByte(char byte, Output& out);
    // Collects byte towards `word`; true once the whole word has arrived.
    bool match(char byte, std::string_view word);
    // Hands out a reply, cut into two writes `cut` bytes in when cut is
    // non-zero, or into halves with splitReplies.
    void reply(std::string bytes, std::size_t cut, Output& out) const;
    void flushUnexpected(Output& out);

    DeviceOptions options_;
    Stage stage_ = Stage::AwaitingIdentity;
    std::uint16_t crc_ = 0xFFFF;
    std::string image_;
    std::string pending_;    // the start of a command word seen so far
    std::string unexpected_; // dropped bytes not yet reported
};

} // namespace korv::devsim
