#pragma once

#include <iconv.h>

#include <string>

namespace korv::testing {

// Windows-1251 bytes as UTF-8, by the system's converter; "<invalid>" when a
// byte has no character.
inline std::string cp1251ToUtf8(const std::string& bytes)
{
    iconv_t cd = iconv_open("UTF-8", "CP1251");
    if (cd == reinterpret_cast<iconv_t>(-1))  // NOLINT(performance-no-int-to-ptr): iconv's failure value
        return "<no converter>";
    std::string in = bytes;
    std::string out(bytes.size() * 4 + 4, '\0');
    char* inPtr = in.data();
    char* outPtr = out.data();
    std::size_t inLeft = in.size();
    std::size_t outLeft = out.size();
    const std::size_t r = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    iconv_close(cd);
    if (r == static_cast<std::size_t>(-1))
        return "<invalid>";
    out.resize(out.size() - outLeft);
    return out;
}

} // namespace korv::testing
