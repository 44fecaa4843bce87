#pragma once

#include <string>
#include <string_view>

namespace korv::cli {

// Device bytes made safe to print: control characters and DEL become \xNN,
// so that a reply can never move the cursor or reprogram the terminal; the
// rest is converted from Windows-1251 when the terminal takes UTF-8, and
// shown as \xNN beyond ASCII when it does not.
std::string printable(std::string_view cp1251, bool utf8Terminal);

// Whether text for the terminal goes out as UTF-8: where the locale decides,
// whether its character set (LC_CTYPE, once setlocale has run) is UTF-8.
bool terminalTakesUtf8();

} // namespace korv::cli
