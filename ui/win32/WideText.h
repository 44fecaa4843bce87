#pragma once

#include <string>
#include <string_view>

namespace korv {

// The program's texts are Windows-1251 bytes; the window system's wide API
// takes UTF-16. Bytes that code page leaves undefined show as U+FFFD.
std::wstring toWide(std::string_view cp1251);

} // namespace korv
