#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace korv {

// A fixed text of the program, written in the source as UTF-8 and held as
// Windows-1251 bytes, converted when the program is compiled. A character
// outside ASCII and the Russian alphabet stops the compilation.
template <std::size_t N>
class Cp1251Literal {
public:
    consteval Cp1251Literal(const char (&utf8)[N])
    {
        std::size_t i = 0;
        while (i + 1 < N) {  // the last element is the terminating zero
            const auto b0 = static_cast<unsigned char>(utf8[i]);
            if (b0 < 0x80) {
                bytes_[size_++] = static_cast<char>(b0);
                ++i;
                continue;
            }
            if ((b0 & 0xE0) != 0xC0 || i + 2 >= N)
                throw "only ASCII and Cyrillic letters have a Windows-1251 byte here";
            const auto b1 = static_cast<unsigned char>(utf8[i + 1]);
            const unsigned cp = ((b0 & 0x1Fu) << 6) | (b1 & 0x3Fu);
            unsigned char out;
            if (cp >= 0x410 && cp <= 0x44F)
                out = static_cast<unsigned char>(0xC0 + (cp - 0x410));
            else if (cp == 0x401)
                out = 0xA8;  // Ё
            else if (cp == 0x451)
                out = 0xB8;  // ё
            else
                throw "only ASCII and Cyrillic letters have a Windows-1251 byte here";
            bytes_[size_++] = static_cast<char>(out);
            i += 2;
        }
    }

    constexpr std::string_view view() const { return {bytes_, size_}; }
    std::string str() const { return std::string(view()); }

private:
    char bytes_[N]{};
    std::size_t size_ = 0;
};

} // namespace korv
