#include "serial/PortDetails.h"

#include <cctype>
#include <optional>
#include <windows.h>
// After windows.h, and in this order: the class GUIDs are defined here.
#include <initguid.h>
#include <devguid.h>
#include <setupapi.h>

namespace korv {
namespace {

std::string utf8Of(const wchar_t* text)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1)
        return {};
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
    out.pop_back();
    return out;
}

// "COM7" of "\\.\COM7".
std::wstring portNameOfPath(const std::string& devicePath)
{
    const std::size_t slash = devicePath.find_last_of('\\');
    const std::string name = slash == std::string::npos ? devicePath : devicePath.substr(slash + 1);
    return std::wstring(name.begin(), name.end());
}

std::optional<std::wstring> registryProperty(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property)
{
    DWORD size = 0;
    SetupDiGetDeviceRegistryPropertyW(set, &device, property, nullptr, nullptr, 0, &size);
    if (size == 0)
        return std::nullopt;
    std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
    if (!SetupDiGetDeviceRegistryPropertyW(set, &device, property, nullptr, reinterpret_cast<BYTE*>(value.data()),
                                           size, nullptr))
        return std::nullopt;
    value.resize(wcsnlen(value.c_str(), value.size()));
    return value;
}

// The port name the device was given ("COM7"), from its own registry key.
std::wstring assignedPortName(HDEVINFO set, SP_DEVINFO_DATA& device)
{
    const HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE)
        return {};
    wchar_t name[64] = {};
    DWORD size = sizeof name - sizeof name[0];
    DWORD type = 0;
    const bool read = RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(name), &size)
                      == ERROR_SUCCESS;
    RegCloseKey(key);
    return read && type == REG_SZ ? std::wstring(name) : std::wstring();
}

// The four hex digits after tag in a hardware id ("USB\VID_0403&PID_6001"), lower case.
std::string hexAfter(const std::wstring& id, const wchar_t* tag)
{
    const std::size_t at = id.find(tag);
    if (at == std::wstring::npos || at + 4 + 4 > id.size())
        return {};
    std::string digits;
    for (std::size_t i = at + 4; i < at + 8; ++i) {
        if (!std::isxdigit(static_cast<unsigned char>(id[i] < 0x80 ? id[i] : 0)))
            return {};
        digits.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(id[i]))));
    }
    return digits;
}

// What the device-setup API knows of the port: nothing where it lists no
// ports (Wine), and then the listing shows the port without details.
void addSetupDetails(const std::wstring& portName, PortDetails& details)
{
    const HDEVINFO set = SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE)
        return;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &device); ++index) {
        if (_wcsicmp(assignedPortName(set, device).c_str(), portName.c_str()) != 0)
            continue;
        if (const auto name = registryProperty(set, device, SPDRP_FRIENDLYNAME))
            details.product = utf8Of(name->c_str());
        if (const auto maker = registryProperty(set, device, SPDRP_MFG))
            details.manufacturer = utf8Of(maker->c_str());
        if (const auto service = registryProperty(set, device, SPDRP_SERVICE))
            details.driver = utf8Of(service->c_str());
        if (const auto ids = registryProperty(set, device, SPDRP_HARDWAREID)) {
            const std::string vendor = hexAfter(*ids, L"VID_");
            const std::string product = hexAfter(*ids, L"PID_");
            if (!vendor.empty() && !product.empty())
                details.usbId = vendor + ":" + product;
        }
        break;
    }
    SetupDiDestroyDeviceInfoList(set);
}

} // namespace

PortDetails describePort(const std::string& devicePath, const std::string&)
{
    PortDetails details;
    const std::wstring portName = portNameOfPath(devicePath);
    // The device object behind the name ("\Device\Serial0"): its last part
    // stands where Linux gives the kernel's name.
    wchar_t target[512] = {};
    if (QueryDosDeviceW(portName.c_str(), target, sizeof target / sizeof target[0]) != 0) {
        const std::wstring object(target);
        details.kernelName = utf8Of(object.substr(object.find_last_of(L'\\') + 1).c_str());
    }
    addSetupDetails(portName, details);
    return details;
}

// Windows does not say which process holds a serial port open.
std::vector<PortHolder> findPortHolders(const std::string&, const std::string&)
{
    return {};
}

// Serial ports have no owning group on Windows.
std::string deviceGroup(const std::string&)
{
    return {};
}

bool inDeviceGroup(const std::string&)
{
    return false;
}

} // namespace korv
