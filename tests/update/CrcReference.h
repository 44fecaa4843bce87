#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace korv::testing {

// CRC-16/MODBUS bit by bit, as the device computes it: independent of the
// table the program uses.
inline std::uint16_t modbusCrc(std::string_view bytes, std::uint16_t crc = 0xFFFF)
{
    for (char c : bytes) {
        crc ^= static_cast<unsigned char>(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1u) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001u)
                             : static_cast<std::uint16_t>(crc >> 1);
    }
    return crc;
}

// What the device sends: the value high byte first, then "FZ" when finished.
inline std::string acknowledgement(std::uint16_t v)
{
    return {static_cast<char>(v >> 8), static_cast<char>(v & 0xFF)};
}

inline std::string finishedReply(std::uint16_t v)
{
    return acknowledgement(v) + "FZ";
}

} // namespace korv::testing
