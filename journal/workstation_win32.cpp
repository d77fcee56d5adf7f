#include "Workstation.h"

#include <windows.h>

#include <filesystem>

namespace journal {

namespace {
constexpr DWORD kNameMax = 256 + 1; // UNLEN and a DNS label's room, with the terminator
} // namespace

std::string pcName() {
    wchar_t name[kNameMax] = {};
    DWORD size = kNameMax;
    if (!::GetComputerNameExW(ComputerNameDnsHostname, name, &size)) {
        size = kNameMax;
        if (!::GetComputerNameW(name, &size))
            return {};
    }
    return std::filesystem::path(std::wstring(name, size)).u8string();
}

std::string osUserName() {
    wchar_t name[kNameMax] = {};
    DWORD size = kNameMax;
    if (!::GetUserNameW(name, &size) || size == 0)
        return {};
    return std::filesystem::path(std::wstring(name, size - 1)).u8string(); // size counts the terminator
}

} // namespace journal
