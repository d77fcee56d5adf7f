#include "port_setting_win32.h"

RegistryPortSettingStore::RegistryPortSettingStore(KeyOpener openKey) : openKey_(std::move(openKey)) {}

LSTATUS RegistryPortSettingStore::createKey(HKEY root, HKEY* key) {
    return ::RegCreateKeyExA(root, kSubKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key, nullptr);
}

std::string RegistryPortSettingStore::readFrom(HKEY root) {
    HKEY key = nullptr;
    if (openKey_(root, &key) != ERROR_SUCCESS)
        return {};
    char value[256] = {};
    DWORD size = sizeof value - 1, type = 0;
    const LSTATUS r = ::RegQueryValueExA(key, "Port", nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
    ::RegCloseKey(key);
    if (r != ERROR_SUCCESS || type != REG_SZ)
        return {};
    return std::string(value, strnlen(value, size));
}

bool RegistryPortSettingStore::writeTo(HKEY root, const std::string& port) {
    HKEY key = nullptr;
    if (openKey_(root, &key) != ERROR_SUCCESS)
        return false;
    const LSTATUS r = ::RegSetValueExA(key, "Port", 0, REG_SZ, reinterpret_cast<const BYTE*>(port.c_str()),
                                       static_cast<DWORD>(port.size() + 1));
    ::RegCloseKey(key);
    return r == ERROR_SUCCESS;
}

std::string RegistryPortSettingStore::read() {
    std::string port = readFrom(HKEY_LOCAL_MACHINE);
    return port.empty() ? readFrom(HKEY_CURRENT_USER) : port;
}

bool RegistryPortSettingStore::write(const std::string& port) {
    return writeTo(HKEY_LOCAL_MACHINE, port) || writeTo(HKEY_CURRENT_USER, port);
}

std::string RegistryPortSettingStore::location() const {
    return std::string("HKEY_LOCAL_MACHINE\\") + kSubKey + "\\Port (или HKEY_CURRENT_USER\\" + kSubKey + "\\Port)";
}

PortSettingStore& portSettingStore() {
    static RegistryPortSettingStore store;
    return store;
}
