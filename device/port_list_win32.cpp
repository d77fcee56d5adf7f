// Win32 port list: the COM ports the serial drivers registered under
// HARDWARE\DEVICEMAP\SERIALCOMM, with friendly names and USB identities from
// SetupAPI where the device manager knows the port. Windows names the ports
// itself, so there is nothing to assign.
#include "PortList.h"

#include <windows.h>
#include <setupapi.h>
#include <devguid.h>

#include <algorithm>
#include <cstdio>
#include <map>

namespace {

std::string utf8(const wchar_t* text) {
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1)
        return {};
    std::string out(static_cast<size_t>(size - 1), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
    return out;
}

int comNumber(const std::string& name) {
    if (name.size() < 4 || _strnicmp(name.c_str(), "COM", 3) != 0)
        return 0;
    return std::atoi(name.c_str() + 3);
}

// "USB\VID_1234&PID_5678\SERIAL" -> ids and serial.
void parseInstanceId(const std::string& id, PresentPort& p) {
    unsigned vid = 0, pid = 0;
    const size_t v = id.find("VID_");
    const size_t q = id.find("PID_");
    if (id.rfind("USB\\", 0) != 0 || v == std::string::npos || q == std::string::npos)
        return;
    if (std::sscanf(id.c_str() + v + 4, "%4x", &vid) != 1 || std::sscanf(id.c_str() + q + 4, "%4x", &pid) != 1)
        return;
    p.usb = true;
    p.vendor = vid;
    p.product = pid;
    const size_t last = id.rfind('\\');
    // Windows makes up an instance id with '&' in it when the device has no serial.
    if (last != std::string::npos && id.find('&', last) == std::string::npos)
        p.serial = id.substr(last + 1);
}

struct DeviceManagerEntry {
    std::string friendlyName, instanceId;
};

std::map<std::string, DeviceManagerEntry> deviceManagerPorts() {
    std::map<std::string, DeviceManagerEntry> ports;
    HDEVINFO set = ::SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE)
        return ports;
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    for (DWORD i = 0; ::SetupDiEnumDeviceInfo(set, i, &data); ++i) {
        HKEY key = ::SetupDiOpenDevRegKey(set, &data, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE)
            continue;
        wchar_t portName[64] = {};
        DWORD size = sizeof portName - sizeof(wchar_t);
        const bool named = ::RegQueryValueExW(key, L"PortName", nullptr, nullptr, reinterpret_cast<BYTE*>(portName), &size) == ERROR_SUCCESS;
        ::RegCloseKey(key);
        if (!named)
            continue;
        DeviceManagerEntry e;
        wchar_t text[512] = {};
        if (::SetupDiGetDeviceRegistryPropertyW(set, &data, SPDRP_FRIENDLYNAME, nullptr, reinterpret_cast<BYTE*>(text),
                                                sizeof text - sizeof(wchar_t), nullptr))
            e.friendlyName = utf8(text);
        wchar_t id[512] = {};
        if (::SetupDiGetDeviceInstanceIdW(set, &data, id, 511, nullptr))
            e.instanceId = utf8(id);
        ports[utf8(portName)] = e;
    }
    ::SetupDiDestroyDeviceInfoList(set);
    return ports;
}

} // namespace

std::vector<PresentPort> listPresentPorts() {
    std::vector<PresentPort> ports;
    HKEY key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return ports;
    const auto manager = deviceManagerPorts();
    for (DWORD i = 0;; ++i) {
        wchar_t device[256];
        DWORD deviceSize = 255;
        wchar_t name[64] = {};
        DWORD nameSize = sizeof name - sizeof(wchar_t);
        DWORD type = 0;
        const LONG r = ::RegEnumValueW(key, i, device, &deviceSize, nullptr, &type, reinterpret_cast<BYTE*>(name), &nameSize);
        if (r == ERROR_NO_MORE_ITEMS)
            break;
        if (r != ERROR_SUCCESS || type != REG_SZ)
            continue;
        PresentPort p;
        p.name = utf8(name);
        p.device = utf8(device);
        if (comNumber(p.name) == 0)
            continue;
        p.description = "Последовательный порт";
        if (const auto m = manager.find(p.name); m != manager.end()) {
            parseInstanceId(m->second.instanceId, p);
            if (!m->second.friendlyName.empty())
                p.description = (p.usb ? "USB: " : "") + m->second.friendlyName;
            p.identity = m->second.instanceId;
        }
        if (p.identity.empty())
            p.identity = "path:" + p.device;
        ports.push_back(std::move(p));
    }
    ::RegCloseKey(key);
    std::sort(ports.begin(), ports.end(), [](const PresentPort& a, const PresentPort& b) { return comNumber(a.name) < comNumber(b.name); });
    return ports;
}

std::vector<PresentPort> refreshPortNames() { return listPresentPorts(); }
