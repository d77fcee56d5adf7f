// Why a port cannot be used on POSIX: the errno of the open, the group that owns
// the device node, the programs /proc shows holding it, and ModemManager, which
// opens every new USB serial device for a few seconds to see if it is a modem.
#include "PortList.h"
#include "PortPath.h"
#include "PortProblem.h"
#include "PortSettingStore.h"
#include "PosixRoots.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string firstLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

std::string userName() {
    if (const passwd* pw = ::getpwuid(::getuid()))
        return pw->pw_name;
    const char* user = std::getenv("USER");
    return user ? user : "$USER";
}

std::string groupOf(const fs::path& device) {
    struct stat st {};
    if (::stat(device.c_str(), &st) != 0)
        return {};
    if (const group* g = ::getgrgid(st.st_gid))
        return g->gr_name;
    return std::to_string(st.st_gid);
}

bool inGroup(const std::string& name) {
    const group* g = ::getgrnam(name.c_str());
    if (!g)
        return false;
    if (::getegid() == g->gr_gid)
        return true;
    gid_t groups[256];
    const int count = ::getgroups(256, groups);
    for (int i = 0; i < count; ++i)
        if (groups[i] == g->gr_gid)
            return true;
    return false;
}

// "minicom (PID 1234)" for every other process with the device open.
std::vector<std::string> holders(const fs::path& device) {
    std::vector<std::string> found;
    std::error_code ec;
    const fs::path target = fs::canonical(device, ec);
    if (ec)
        return found;
    const std::string self = std::to_string(::getpid());
    for (const auto& proc : fs::directory_iterator(procRoot(), ec)) {
        const std::string pid = proc.path().filename().string();
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos || pid == self)
            continue;
        std::error_code fec;
        for (const auto& fd : fs::directory_iterator(proc.path() / "fd", fec)) {
            std::error_code lec;
            if (fs::read_symlink(fd.path(), lec) == target) {
                found.push_back(firstLine(proc.path() / "comm") + " (PID " + pid + ")");
                break;
            }
        }
    }
    return found;
}

bool modemManagerRuns() {
    std::error_code ec;
    for (const auto& proc : fs::directory_iterator(procRoot(), ec))
        if (firstLine(proc.path() / "comm") == "ModemManager")
            return true;
    return false;
}

// udev's record of the device: does it carry ID_MM_DEVICE_IGNORE=1?
bool modemManagerIgnores(const fs::path& device) {
    struct stat st {};
    if (::stat(device.c_str(), &st) != 0 || !S_ISCHR(st.st_mode))
        return false;
    const fs::path data = fs::path(udevDataRoot()) /
                          ("c" + std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev)));
    std::ifstream in(data);
    std::string line;
    while (std::getline(in, line))
        if (line == "E:ID_MM_DEVICE_IGNORE=1")
            return true;
    return false;
}

bool usbTty(const fs::path& device) {
    std::error_code ec;
    const fs::path target = fs::canonical(device, ec);
    for (const PresentPort& p : listPresentPorts())
        if (p.usb && fs::canonical(p.device, ec) == target)
            return true;
    return false;
}

std::string modemManagerAdvice(const fs::path& device) {
    std::error_code ec;
    if (!fs::exists(device, ec) || !usbTty(device) || !modemManagerRuns() || modemManagerIgnores(device))
        return {};
    return "Работает ModemManager: он открывает новые USB-порты на несколько секунд и может занять " +
           fs::canonical(device, ec).string() +
           ". Добавьте правило udev из пакета (ENV{ID_MM_DEVICE_IGNORE}=\"1\" для контроллера) или выполните: "
           "sudo systemctl stop ModemManager";
}

std::string heldBy(const fs::path& device) {
    const auto who = holders(device);
    std::string text = "Порт " + device.string() + " занят другой программой";
    if (!who.empty()) {
        text += ": ";
        for (size_t i = 0; i < who.size(); ++i)
            text += (i ? ", " : "") + who[i];
    }
    text += ". Закройте её и повторите.";
    if (const std::string mm = modemManagerAdvice(device); !mm.empty())
        text += " " + mm;
    return text;
}

} // namespace

std::string portProblem(const std::string& portName) {
    const std::string path = devicePath(portName);
    if (path.empty())
        return {};
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(path, ec)))
        return {}; // no such port: nothing to explain
    const fs::path device = fs::canonical(path, ec);
    if (ec)
        return portName + " ведёт на " + fs::read_symlink(path, ec).string() + ", а такого устройства нет (отключено?).";
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (error == EACCES || error == EPERM) {
            const std::string group = groupOf(device);
            return "Нет доступа к " + device.string() + ": порт принадлежит группе " + group +
                   ". Выполните: sudo usermod -aG " + group + " " + userName() + " и войдите в систему заново.";
        }
        if (error == EBUSY)
            return heldBy(device);
        return "Порт " + device.string() + " не открывается: " + std::strerror(error) + ".";
    }
    const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    if (!locked)
        ::flock(fd, LOCK_UN);
    ::close(fd);
    return locked ? heldBy(device) : std::string();
}

std::vector<std::string> portDoctorReport(const std::function<bool(const std::string&)>& inUse) {
    std::vector<std::string> lines;
    const auto ports = refreshPortNames();
    lines.push_back("Папка имён портов: " + portAliasDir());
    if (ports.empty())
        lines.push_back("Последовательных портов не найдено. Подключите контроллер кабелем USB; "
                        "проверьте, что он виден в выводе lsusb и dmesg.");
    bool someUsb = false;
    for (const PresentPort& p : ports) {
        someUsb = someUsb || p.usb;
        lines.push_back((p.name.empty() ? std::string("(без имени)") : p.name) + "  " + p.device + "  " + usbIds(p) +
                        "  " + (p.serial.empty() ? "-" : p.serial) + "  " + p.description);
        lines.push_back("  опознаётся как " + p.identity);
        if (!p.name.empty() && inUse && inUse(p.name)) {
            lines.push_back(std::string("  ") + kPortInUseHere);
            continue;
        }
        const std::string problem = p.name.empty() ? std::string() : portProblem(p.name);
        if (!problem.empty()) {
            lines.push_back("  " + problem);
            continue;
        }
        const std::string group = groupOf(p.device);
        if (::access(p.device.c_str(), R_OK | W_OK) == 0)
            lines.push_back("  доступ есть, порт свободен");
        if (!group.empty() && ::getuid() != 0 && !inGroup(group))
            lines.push_back("  пользователь " + userName() + " не в группе " + group + ": sudo usermod -aG " + group + " " +
                            userName());
    }
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(portAliasDir(), ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("COM", 0) != 0)
            continue;
        bool listed = false;
        for (const PresentPort& p : ports)
            listed = listed || p.name == name;
        if (!listed) {
            std::error_code lec;
            const fs::path target = fs::read_symlink(entry.path(), lec);
            lines.push_back(name + " (задан вручную) -> " + (lec ? std::string("?") : target.string()) +
                            (fs::exists(entry.path(), lec) ? "" : "  устройства нет"));
        }
    }
    if (modemManagerRuns())
        lines.push_back(someUsb ? "ModemManager работает: он может на несколько секунд занимать новые USB-порты. "
                                  "Правило udev из пакета велит ему не трогать контроллер."
                                : "ModemManager работает.");
    else
        lines.push_back("ModemManager не работает.");
    const std::string remembered = portSettingStore().read();
    lines.push_back("Запомненный порт: " + (remembered.empty() ? std::string("(нет, будет ") + kDefaultPort + ")" : remembered) +
                    "  (" + portSettingStore().location() + ")");
    if (!remembered.empty()) {
        bool present = false;
        for (const PresentPort& p : ports)
            present = present || p.name == remembered;
        std::error_code lec;
        if (!present && !fs::exists(devicePath(remembered), lec))
            lines.push_back("  порта " + remembered + " сейчас нет: выберите порт или выполните z58ctl find-port");
    }
    return lines;
}
