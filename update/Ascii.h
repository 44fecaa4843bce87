#pragma once

#include <string_view>

namespace korv {

// Lowers A-Z only. In Windows-1251 no other byte lowers to an ASCII letter,
// so comparing against ASCII words or hex digits decides as the full
// single-byte mapping would.
constexpr char lowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Same length and the same characters once A-Z are lowered.
constexpr bool equalIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lowerAscii(a[i]) != lowerAscii(b[i]))
            return false;
    return true;
}

} // namespace korv
