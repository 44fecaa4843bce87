#include "devsim/DeviceModel.h"

namespace korv::devsim {

namespace {

constexpr std::string_view kIdentityRequest = "VERS";
constexpr std::string_view kStartCommand = "PUSK";
constexpr std::string_view kFinishedMark = "FZ";
constexpr std::string_view kIdentityWord = "KORVANTEMIS";
// Where a split identity reply is cut: inside the first word.
constexpr std::size_t kIdentityCut = 5;
constexpr char kJunkByte = '\0';
// Turns a right acknowledgement into a wrong one; any non-zero mask would do.
constexpr std::uint16_t kWrongMask = 0x5A5A;

Event event(EventKind kind, int block = -1, std::uint16_t crc = 0, std::string bytes = {}) {
    return Event{kind, block, crc, std::move(bytes)};
}

} // namespace

std::uint16_t crc16ModbusStep(std::uint16_t crc, std::uint8_t byte) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) {
        crc = (crc & 1u) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001u)
                         : static_cast<std::uint16_t>(crc >> 1);
    }
    return crc;
}

std::uint16_t crc16Modbus(std::string_view bytes, std::uint16_t crc) {
    for (char c : bytes) {
        crc = crc16ModbusStep(crc, static_cast<std::uint8_t>(c));
    }
    return crc;
}

DeviceModel::DeviceModel(DeviceOptions options) : options_(std::move(options)) {}

std::string DeviceModel::identity() const {
    return std::string(kIdentityWord) + " " + options_.name + " " + options_.version;
}

Output DeviceModel::feed(std::string_view bytes) {
    Output out;
    for (char byte : bytes) {
        if (stage_ == Stage::HungUp) {
            break;
        }
        take(byte, out);
    }
    flushUnexpected(out);
    return out;
}

void DeviceModel::take(char byte, Output& out) {
    switch (stage_) {
    case Stage::AwaitingIdentity:
        if (match(byte, kIdentityRequest)) {
            flushUnexpected(out);
            if (options_.noIdentity) {
                out.events.push_back(event(EventKind::IdentityWithheld));
                break;
            }
            image_.clear();
            crc_ = 0xFFFF;
            stage_ = Stage::Receiving;
            out.events.push_back(event(EventKind::Identified));
            reply(identity(), options_.splitIdentity ? kIdentityCut : 0, out);
        }
        break;
    case Stage::Receiving:
        takeImageByte(byte, out);
        break;
    case Stage::AwaitingStart:
        if (match(byte, kStartCommand)) {
            flushUnexpected(out);
            stage_ = Stage::AwaitingIdentity;
            out.events.push_back(event(EventKind::Started));
        }
        break;
    case Stage::Silent:
    case Stage::HungUp:
        break;
    }
}

void DeviceModel::takeImageByte(char byte, Output& out) {
    image_.push_back(byte);
    crc_ = crc16ModbusStep(crc_, static_cast<std::uint8_t>(byte));
    if (image_.size() % kBlockSize != 0) {
        return;
    }
    const int block = static_cast<int>(image_.size() / kBlockSize) - 1;
    out.events.push_back(event(EventKind::BlockReceived, block, crc_));
    if (options_.hangupAt == block) {
        stage_ = Stage::HungUp;
        out.hangUp = true;
        out.events.push_back(event(EventKind::HangUp, block, crc_));
        return;
    }
    if (options_.silentAt == block) {
        stage_ = Stage::Silent;
        out.events.push_back(event(EventKind::WentSilent, block, crc_));
        return;
    }
    std::uint16_t value = crc_;
    if (options_.wrongCrcAt == block) {
        value ^= kWrongMask;
        out.events.push_back(event(EventKind::WrongAck, block, value));
    }
    std::string answer{static_cast<char>(value >> 8), static_cast<char>(value & 0xFF)};
    std::size_t cut = options_.splitAckAt == block ? 1 : 0;
    if (block == kBlockCount - 1 || options_.finishAt == block) {
        if (options_.splitFinished) {
            cut = answer.size();
        }
        answer += kFinishedMark;
        stage_ = Stage::AwaitingStart;
        out.events.push_back(event(EventKind::Finished, block, value));
    }
    if (options_.junkBeforeAckAt == block) {
        out.writes.emplace_back(1, kJunkByte);
    }
    reply(std::move(answer), cut, out);
}

bool DeviceModel::match(char byte, std::string_view word) {
    pending_.push_back(byte);
    while (!pending_.empty() && !word.starts_with(pending_)) {
        unexpected_.push_back(pending_.front());
        pending_.erase(0, 1);
    }
    if (pending_ == word) {
        pending_.clear();
        return true;
    }
    return false;
}

void DeviceModel::reply(std::string bytes, std::size_t cut, Output& out) const {
    if (cut == 0 && options_.splitReplies) {
        cut = bytes.size() / 2;
    }
    if (cut == 0 || cut >= bytes.size()) {
        out.writes.push_back(std::move(bytes));
        return;
    }
    out.writes.push_back(bytes.substr(0, cut));
    out.writes.push_back(bytes.substr(cut));
}

void DeviceModel::flushUnexpected(Output& out) {
    if (!unexpected_.empty()) {
        out.events.push_back(event(EventKind::Unexpected, -1, 0, std::move(unexpected_)));
        unexpected_.clear();
    }
}

} // namespace korv::devsim
