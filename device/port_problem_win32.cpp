// Why a port cannot be used on Windows: the error of an exclusive open. Windows
// does not say who holds a port; "access denied" means another program does.
#include "PortList.h"
#include "PortPath.h"
#include "PortProblem.h"
#include "PortSettingStore.h"

#include <windows.h>

namespace {

std::string systemMessage(DWORD error) {
    wchar_t* text = nullptr;
    ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                     error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string out;
    if (text) {
        const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
        if (size > 1) {
            out.assign(static_cast<size_t>(size - 1), '\0');
            ::WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
        }
        ::LocalFree(text);
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ' || out.back() == '.'))
        out.pop_back();
    return out.empty() ? "ошибка " + std::to_string(error) : out;
}

} // namespace

std::string portProblem(const std::string& portName) {
    const std::string path = devicePath(portName);
    if (path.empty())
        return {};
    HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        ::CloseHandle(h);
        return {};
    }
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
        return {};
    if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION)
        return "Порт " + portName + " занят другой программой (отказано в доступе). Закройте её и повторите.";
    return "Порт " + portName + " не открывается: " + systemMessage(error) + ".";
}

std::vector<std::string> portDoctorReport(const std::function<bool(const std::string&)>& inUse) {
    std::vector<std::string> lines;
    const auto ports = listPresentPorts();
    if (ports.empty())
        lines.push_back("COM-портов не найдено. Подключите контроллер кабелем USB и проверьте диспетчер устройств.");
    for (const PresentPort& p : ports) {
        lines.push_back(p.name + "  " + p.device + "  " + usbIds(p) + "  " + (p.serial.empty() ? "-" : p.serial) + "  " +
                        p.description);
        lines.push_back("  опознаётся как " + p.identity);
        if (inUse && inUse(p.name)) {
            lines.push_back(std::string("  ") + kPortInUseHere);
            continue;
        }
        const std::string problem = portProblem(p.name);
        lines.push_back("  " + (problem.empty() ? std::string("порт свободен") : problem));
    }
    const std::string remembered = portSettingStore().read();
    lines.push_back("Запомненный порт: " + (remembered.empty() ? std::string("(нет, будет ") + kDefaultPort + ")" : remembered) +
                    "  (" + portSettingStore().location() + ")");
    return lines;
}
