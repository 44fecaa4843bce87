#include "link/Cp1251Text.h"

#include <cerrno>
#include <iconv.h>
#include <vector>

namespace korv {

// A byte that Windows-1251 leaves undefined is replaced and the rest goes on.
std::string cp1251ToUtf8(std::string_view in)
{
    static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
    iconv_t cd = iconv_open("UTF-8", "CP1251");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return {};
    std::string out;
    std::vector<char> buf(in.size() * 4 + 16);
    char* src = const_cast<char*>(in.data());
    std::size_t srcLeft = in.size();
    while (srcLeft > 0) {
        char* dst = buf.data();
        std::size_t dstLeft = buf.size();
        const std::size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        out.append(buf.data(), static_cast<std::size_t>(dst - buf.data()));
        if (r == static_cast<std::size_t>(-1) && errno != E2BIG) {
            out.append(kReplacement);
            ++src;
            --srcLeft;
        }
    }
    iconv_close(cd);
    return out;
}

} // namespace korv
