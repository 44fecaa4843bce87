#pragma once

#include <QString>
#include <string_view>

namespace korv {

// The program's texts are Windows-1251 bytes; the window shows Unicode.
// Bytes that code page leaves undefined show as U+FFFD.
QString fromCp1251(std::string_view bytes);

} // namespace korv
