#pragma once

#include <string>
#include <string_view>

namespace korv {

// The program's texts are Windows-1251 bytes; the window and terminals show
// Unicode. Bytes that code page leaves undefined become U+FFFD.
std::string cp1251ToUtf8(std::string_view bytes);

} // namespace korv
