#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "link/Link.h"

namespace korv {

// The running CRC-16/MODBUS over every image byte sent (reflected polynomial
// 0xA001, start 0xFFFF, no final exclusive-or). The device answers each block
// with its own value, high byte first, and adds "FZ" when it has finished.
namespace crc16 {

constexpr std::array<std::uint16_t, 256> makeTable()
{
    std::array<std::uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned r = 0;
        unsigned j = i;
        for (int bit = 0; bit < 8; ++bit) {
            r = ((r ^ j) & 1u) ? (r >> 1) ^ 0xA001u : r >> 1;
            j >>= 1;
        }
        table[i] = static_cast<std::uint16_t>(r);
    }
    return table;
}

inline constexpr std::array<std::uint16_t, 256> kTable = makeTable();

// The value before the first byte.
inline constexpr std::uint16_t kStart = 0xFFFF;

constexpr std::uint16_t step(std::uint16_t c, std::uint8_t b)
{
    return static_cast<std::uint16_t>(kTable[(c ^ b) & 0xFFu] ^ (c >> 8));
}

} // namespace crc16

// The value's text form: four upper-case hex digits, zero-padded.
std::string valueText(std::uint16_t value);

// Reads a hex text: one leading "$" skipped, digits up to the first other
// character, accumulated in 32 bits; the low 16 bits are the value. A text
// without digits gives 0.
std::uint16_t parseHexValue(std::string_view text);

// Two upper-case hex digits per byte, high nibble first, no separator.
std::string hexRendering(std::string_view bytes);

enum class Verdict { Finished, Acknowledgement, Rejected };

// The transfer's side of the check value. The value itself lives in the
// window's check-value field: each update reads the field, hands the new text
// back to it, and reads it again for the expected finished reply.
class CheckValue {
public:
    // field: reads the field's text; store: hands the new text to the field.
    void update(std::uint8_t b, const DataIn& field, const EventOut& store);

    // Judges one received text; hex receives its rendering.
    Verdict judge(std::string_view reply, std::string& hex) const;

    const std::string& expectedAcknowledgement() const { return expectedAck_; }
    const std::string& expectedFinished() const { return expectedFinished_; }

private:
    // Hex renderings hold only 0-9 and A-F, so these two can never match:
    // every reply before the first byte is rejected.
    std::string expectedAck_ = "SZ";
    std::string expectedFinished_ = "FZ";
};

} // namespace korv
