#include "SystemName.h"

#include <windows.h>

std::string systemName() {
    // GetVersionEx reports what the manifest allows; the kernel's own call does not.
    using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
    OSVERSIONINFOW v{};
    v.dwOSVersionInfoSize = sizeof v;
    HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    auto rtlGetVersion = ntdll ? reinterpret_cast<RtlGetVersionFn>(
                                     reinterpret_cast<void*>(::GetProcAddress(ntdll, "RtlGetVersion")))
                               : nullptr;
    if (!rtlGetVersion || rtlGetVersion(&v) != 0)
        return "Windows";
    std::string name = "Windows " + std::to_string(v.dwMajorVersion) + "." + std::to_string(v.dwMinorVersion) + "." +
                       std::to_string(v.dwBuildNumber);
    // Wine answers as the Windows it pretends to be; say so, support will want to know.
    if (ntdll && ::GetProcAddress(ntdll, "wine_get_version"))
        name += " (Wine)";
    return name;
}
