#include "link/Cp1251Text.h"

#include <array>
#include <cstdint>

namespace korv {
namespace {

// The code page is part of the program's definition, so it is the program's
// own table, the same on every system. Bytes below 0x80 are ASCII; 0xC0 to
// 0xFF are А to я in order; the rest are listed here. 0x98 is undefined.
constexpr char16_t kUndefined = 0xFFFD;
constexpr std::array<char16_t, 64> kHighHalf = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    kUndefined, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8
};

char16_t toUnicode(std::uint8_t b)
{
    if (b < 0x80)
        return b;
    if (b >= 0xC0)
        return static_cast<char16_t>(0x0410 + (b - 0xC0));
    return kHighHalf[b - 0x80];
}

void appendUtf8(std::string& out, char16_t c)
{
    // Every character of the code page lies in the Basic Multilingual Plane.
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

} // namespace

std::string cp1251ToUtf8(std::string_view in)
{
    std::string out;
    out.reserve(in.size() * 2);
    for (const char c : in)
        appendUtf8(out, toUnicode(static_cast<std::uint8_t>(c)));
    return out;
}

} // namespace korv
