#include <vector>
#include <windows.h>

#include "serial/PortMap.h"
#include "serial/PortName.h"

namespace korv {

PortMap PortMap::fromSystem()
{
    // The system's table of serial ports: each value's data is a port name.
    std::map<int, std::string> devices;
    std::vector<int> order;  // the key's own, not sorted
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return PortMap();
    DWORD values = 0;
    DWORD longestName = 0;
    if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, &longestName,
                         nullptr, nullptr, nullptr)
        != ERROR_SUCCESS) {
        RegCloseKey(key);
        return PortMap();
    }
    std::vector<wchar_t> name(longestName + 1);
    for (DWORD index = 0; index < values; ++index) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD type = 0;
        DWORD size = 0;
        // A value that cannot be asked about, or is not a plain string, ends
        // the listing: the values after it are not looked at.
        if (RegEnumValueW(key, index, name.data(), &nameLength, nullptr, &type, nullptr, &size) != ERROR_SUCCESS
            || type != REG_SZ)
            break;
        std::vector<wchar_t> data(size / sizeof(wchar_t) + 1, L'\0');
        DWORD dataSize = static_cast<DWORD>(data.size() * sizeof(wchar_t));
        nameLength = static_cast<DWORD>(name.size());
        if (RegEnumValueW(key, index, name.data(), &nameLength, nullptr, &type,
                          reinterpret_cast<BYTE*>(data.data()), &dataSize)
            != ERROR_SUCCESS)
            continue;
        // The port name is the data up to its first zero character; only
        // "COM1" to "COM255" stand for a port here.
        std::string portName;
        for (const wchar_t c : data) {
            if (c == L'\0')
                break;
            portName.push_back(c < 0x80 ? static_cast<char>(c) : '?');
        }
        if (const int number = exactPortNumber(portName)) {
            devices.emplace(number, "\\\\.\\" + portNameOf(number));
            order.push_back(number);
        }
    }
    RegCloseKey(key);
    return PortMap(std::move(devices), order);
}

} // namespace korv
