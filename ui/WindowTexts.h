#pragma once

#include "link/Cp1251.h"

// The main window's fixed texts, the same whatever window system shows them.
namespace korv::windowtexts {

inline constexpr Cp1251Literal kTitle("Korvantemis bootloader");
inline constexpr Cp1251Literal kWrite("Записать");
inline constexpr Cp1251Literal kChoosePort("Выберите порт с подключённым устройством.");
inline constexpr Cp1251Literal kVersion("Версия ПО для обновления:8.7 (без защиты симисторов)");
inline constexpr Cp1251Literal kInitialCheckValue("FFFF");
inline constexpr Cp1251Literal kReceivedCheck("CRC принятый:");
inline constexpr Cp1251Literal kCheckValue("CRC:");
inline constexpr Cp1251Literal kOk("OK");
inline constexpr Cp1251Literal kSuccess("     ПО успешно обновлено!\r\nСбросте настройки по умолчанию!");
inline constexpr Cp1251Literal kError("Ошибка при передаче данных!");
inline constexpr Cp1251Literal kHint("Проверьте все соединения и попробуйте ещё раз.");

} // namespace korv::windowtexts
