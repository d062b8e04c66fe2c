#include "serial/win32/WinApi.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "serial/SerialDevices.h"
#include "serial/SerialLine.h"

// Windows lists its serial ports under HKLM\HARDWARE\DEVICEMAP\SERIALCOMM:
// each value is named after the driver's device (\Device\Serial0,
// \Device\USBSER000) and holds the port's name ("COM3"). A port is named by
// that name everywhere, so path, node and target are all "COM3".

namespace {

constexpr wchar_t kSerialCommKey[] = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";

std::string Upper(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// The number of "COM12", or 0 for anything else.
unsigned long ComNumber(const std::string& name)
{
    if (name.size() < 4 || name.size() > 9 || Upper(name.substr(0, 3)) != "COM")
        return 0;
    unsigned long n = 0;
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9')
            return 0;
        n = n * 10 + static_cast<unsigned long>(name[i] - '0');
    }
    return n;
}

// "COM5" for "COM5", "com5" and "\\.\COM5".
std::string PortName(const std::string& path)
{
    const std::string name = path.compare(0, 4, "\\\\.\\") == 0 ? path.substr(4) : path;
    return ComNumber(name) ? Upper(name) : std::string();
}

// The ports listed now: their names and the devices behind them, by number.
std::vector<std::pair<std::string, std::string>> ListedPorts()
{
    std::vector<std::pair<unsigned long, std::pair<std::string, std::string>>> found;
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSerialCommKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return {}; // no key: no port has been seen since the machine started
    for (DWORD index = 0;; ++index) {
        wchar_t valueName[256];
        DWORD nameLength = sizeof valueName / sizeof valueName[0];
        wchar_t data[64] = {};
        DWORD dataSize = sizeof data - sizeof data[0]; // room for the terminator the registry may leave out
        DWORD type = 0;
        const LONG r = ::RegEnumValueW(key, index, valueName, &nameLength, nullptr, &type,
                                       reinterpret_cast<BYTE*>(data), &dataSize);
        if (r == ERROR_NO_MORE_ITEMS)
            break;
        if (r != ERROR_SUCCESS || type != REG_SZ)
            continue; // a value too long for a port name is none
        std::size_t length = dataSize / sizeof data[0];
        while (length > 0 && data[length - 1] == L'\0')
            --length;
        const std::string name = Upper(win32::Utf8FromWide(data, length));
        if (const unsigned long n = ComNumber(name))
            found.push_back({n, {name, win32::Utf8FromWide(valueName, nameLength)}});
    }
    ::RegCloseKey(key);
    std::sort(found.begin(), found.end());
    found.erase(std::unique(found.begin(), found.end(),
                            [](const auto& a, const auto& b) { return a.first == b.first; }),
                found.end());
    std::vector<std::pair<std::string, std::string>> ports;
    for (auto& entry : found)
        ports.push_back(std::move(entry.second));
    return ports;
}

} // namespace

// The directories of the Linux scan mean nothing here.
std::vector<std::string> FindSerialDevices(const std::string&, const std::string&)
{
    std::vector<std::string> names;
    for (const auto& port : ListedPorts())
        names.push_back(port.first);
    return names;
}

std::vector<SSerialDevice> ScanSerialDevices(const SDeviceDirs&)
{
    std::vector<SSerialDevice> devices;
    for (const auto& [name, device] : ListedPorts())
        devices.push_back({name, name, name, device});
    return devices;
}

// The port list reads USB identities from sysfs on Linux; Windows keeps them
// with the device's driver, out of this scan's reach.
SUsbIdentity ReadUsbIdentity(const std::string&, const std::string&)
{
    return {};
}

// A port name leads to the listed port of that name, or nowhere while it is
// not listed; any other path (another device namespace) is taken as given.
std::string ResolveDevicePath(const std::string& path)
{
    const std::string name = PortName(path);
    if (name.empty())
        return path;
    for (const auto& port : ListedPorts())
        if (port.first == name)
            return name;
    return {};
}
