#pragma once

// What the tests ask of iconv, on Windows: Windows-1251 to UTF-8 by the
// system's own code page 1251, the second opinion the tests compare the
// program's table with.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

using iconv_t = void*;

inline iconv_t iconv_open(const char* to, const char* from)
{
    static int converter;
    if (std::strcmp(to, "UTF-8") != 0 || std::strcmp(from, "CP1251") != 0) {
        errno = EINVAL;
        return reinterpret_cast<iconv_t>(-1);
    }
    return &converter;
}

inline int iconv_close(iconv_t)
{
    return 0;
}

inline std::size_t iconv(iconv_t, char** in, std::size_t* inLeft, char** out, std::size_t* outLeft)
{
    for (; *inLeft > 0; ++*in, --*inLeft) {
        wchar_t wide = 0;
        // The code page gives a byte it leaves undefined (0x98) as the C1
        // control of the same value; it defines no C1 control otherwise.
        if (MultiByteToWideChar(1251, 0, *in, 1, &wide, 1) != 1 || (wide >= 0x80 && wide <= 0x9F)) {
            errno = EILSEQ;
            return static_cast<std::size_t>(-1);
        }
        char utf8[4];
        const int size = WideCharToMultiByte(CP_UTF8, 0, &wide, 1, utf8, sizeof utf8, nullptr, nullptr);
        if (size <= 0 || static_cast<std::size_t>(size) > *outLeft) {
            errno = E2BIG;
            return static_cast<std::size_t>(-1);
        }
        std::memcpy(*out, utf8, static_cast<std::size_t>(size));
        *out += size;
        *outLeft -= static_cast<std::size_t>(size);
    }
    return 0;
}
