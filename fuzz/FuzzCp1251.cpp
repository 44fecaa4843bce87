// The Windows-1251 conversions where texts meet a terminal or the window:
// every byte becomes exactly one character, the one the code page gives it,
// and a byte the code page leaves undefined becomes U+FFFD; the output is
// always valid UTF-8, and the window's conversion agrees with the terminal's.

#include <fuzzer/FuzzedDataProvider.h>

#include <QString>
#include <string>
#include <vector>

#include "Require.h"
#include "link/Cp1251Text.h"
#include "ui/qt/TextCodec.h"

using korv::fuzz::require;

namespace {

// The code page's upper half up to the Russian letters; 98 is undefined.
constexpr char32_t kHigh[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0xFFFD, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8
};

char32_t codePoint(unsigned char b)
{
    if (b < 0x80)
        return b;
    if (b < 0xC0)
        return kHigh[b - 0x80];
    return 0x0410 + (b - 0xC0);  // А to я in order
}

// Strict UTF-8 decoding; false on any malformed, overlong or surrogate sequence.
bool decodeUtf8(const std::string& text, std::vector<char32_t>& out)
{
    for (std::size_t i = 0; i < text.size();) {
        const auto b0 = static_cast<unsigned char>(text[i]);
        int length = b0 < 0x80 ? 1 : (b0 >> 5) == 6 ? 2 : (b0 >> 4) == 14 ? 3 : (b0 >> 3) == 30 ? 4 : 0;
        if (length == 0 || i + static_cast<std::size_t>(length) > text.size())
            return false;
        char32_t cp = length == 1 ? b0 : b0 & (0x7F >> length);
        for (int k = 1; k < length; ++k) {
            const auto b = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
            if ((b & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (b & 0x3F);
        }
        static constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < kLeast[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        out.push_back(cp);
        i += static_cast<std::size_t>(length);
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::string utf8 = korv::cp1251ToUtf8(bytes);
    std::vector<char32_t> decoded;
    require(decodeUtf8(utf8, decoded), "the terminal's text is valid UTF-8");
    require(decoded.size() == bytes.size(), "every byte becomes exactly one character");
    for (std::size_t i = 0; i < bytes.size(); ++i)
        require(decoded[i] == codePoint(static_cast<unsigned char>(bytes[i])),
                "each byte becomes the character the code page gives it");

    const QString shown = korv::fromCp1251(bytes);
    require(shown.size() == static_cast<qsizetype>(bytes.size()), "the window shows one character per byte");
    for (qsizetype i = 0; i < shown.size(); ++i)
        require(shown[i].unicode() == codePoint(static_cast<unsigned char>(bytes[static_cast<std::size_t>(i)])),
                "the window shows the same characters as the terminal");
    return 0;
}
