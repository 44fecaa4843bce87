#pragma once

#include "link/Cp1251.h"

namespace korv::texts {

inline constexpr Cp1251Literal kDeviceLineFormat("Устройство: %1   Текущая версия ПО: %2");
inline constexpr Cp1251Literal kNoDevice("На этом порту устройств не найдено.");

} // namespace korv::texts
