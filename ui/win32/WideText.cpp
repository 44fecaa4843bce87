#include "ui/win32/WideText.h"

#include <windows.h>

#include "link/Cp1251Text.h"

namespace korv {

std::wstring toWide(std::string_view cp1251)
{
    // The program's own table makes the characters; the system only changes
    // their encoding, which no code page setting can alter.
    const std::string utf8 = cp1251ToUtf8(cp1251);
    if (utf8.empty())
        return {};
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), length);
    return wide;
}

} // namespace korv
