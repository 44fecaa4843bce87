#pragma once

#include <string_view>

namespace korv::texts {

// The program's own texts are Windows-1251 bytes.

// "Устройство: %1   Текущая версия ПО: %2"
inline constexpr std::string_view kDeviceLineFormat =
    "\xD3\xF1\xF2\xF0\xEE\xE9\xF1\xF2\xE2\xEE: %1   "
    "\xD2\xE5\xEA\xF3\xF9\xE0\xFF \xE2\xE5\xF0\xF1\xE8\xFF \xCF\xCE: %2";

// "На этом порту устройств не найдено."
inline constexpr std::string_view kNoDevice =
    "\xCD\xE0 \xFD\xF2\xEE\xEC \xEF\xEE\xF0\xF2\xF3 "
    "\xF3\xF1\xF2\xF0\xEE\xE9\xF1\xF2\xE2 \xED\xE5 \xED\xE0\xE9\xE4\xE5\xED\xEE.";

} // namespace korv::texts
