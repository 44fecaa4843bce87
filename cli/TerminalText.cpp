#include "cli/TerminalText.h"

#include <cstdio>

#include "link/Cp1251Text.h"

namespace korv::cli {
namespace {

std::string escaped(unsigned char b)
{
    char text[5];
    std::snprintf(text, sizeof text, "\\x%02X", b);  // NOLINT(cert-err33-c): fits
    return text;
}

} // namespace

std::string printable(std::string_view cp1251, bool utf8Terminal)
{
    std::string out;
    std::string run;  // printable bytes not yet converted
    const auto flush = [&] {
        out += utf8Terminal ? cp1251ToUtf8(run) : run;
        run.clear();
    };
    for (char c : cp1251) {
        const auto b = static_cast<unsigned char>(c);
        const bool control = b < 0x20 || b == 0x7F;
        if (control || (b >= 0x80 && !utf8Terminal) || c == '\\') {
            flush();
            out += c == '\\' ? std::string("\\\\") : escaped(b);
        } else {
            run.push_back(c);
        }
    }
    flush();
    return out;
}

} // namespace korv::cli
