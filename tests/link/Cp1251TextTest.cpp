#include <gtest/gtest.h>

#include <iconv.h>

#include <string>

#include "link/Cp1251Text.h"

namespace korv {
namespace {

// The system's own converter, as a second opinion on the program's table.
std::string systemConversion(char byte)
{
    iconv_t cd = iconv_open("UTF-8", "CP1251");
    if (cd == reinterpret_cast<iconv_t>(-1))  // NOLINT(performance-no-int-to-ptr): iconv's failure value
        return "(no converter)";
    char in[1] = {byte};
    char out[8] = {};
    char* src = in;
    char* dst = out;
    std::size_t srcLeft = 1;
    std::size_t dstLeft = sizeof out;
    const std::size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    iconv_close(cd);
    if (r == static_cast<std::size_t>(-1))
        return "\xEF\xBF\xBD";  // undefined in the code page: replaced
    return std::string(out, static_cast<std::size_t>(dst - out));
}

TEST(Cp1251Text, EveryByteConvertsAsTheSystemsCodePageHasIt)
{
    for (int b = 0; b < 256; ++b) {
        SCOPED_TRACE(b);
        const char byte = static_cast<char>(b);
        EXPECT_EQ(cp1251ToUtf8(std::string(1, byte)), systemConversion(byte));
    }
}

TEST(Cp1251Text, ConvertsWholeTextsZeroBytesAndUndefinedBytesIncluded)
{
    EXPECT_EQ(cp1251ToUtf8(""), "");
    EXPECT_EQ(cp1251ToUtf8("\xD3\xF1\xF2\xF0\xEE\xE9\xF1\xF2\xE2\xEE: KV-12"), "Устройство: KV-12");
    EXPECT_EQ(cp1251ToUtf8(std::string("a\0\x98\xB9", 4)), std::string("a\0\xEF\xBF\xBD\xE2\x84\x96", 8));
}

} // namespace
} // namespace korv
