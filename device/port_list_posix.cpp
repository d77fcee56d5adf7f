// POSIX port list: the kernel's tty classes in sysfs, the USB device above each
// tty, and the stable names udev gives under /dev/serial/by-id.
#include "PortList.h"
#include "PosixRoots.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>

namespace fs = std::filesystem;

namespace {

std::string readAttribute(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    if (!in || !std::getline(in, line))
        return {};
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    return line;
}

unsigned hexAttribute(const fs::path& file) {
    try {
        return static_cast<unsigned>(std::stoul(readAttribute(file), nullptr, 16));
    } catch (const std::exception&) {
        return 0;
    }
}

bool startsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

// ttyACM (CDC ACM), ttyUSB (USB serial converters), ttyS (on-board UARTs). The
// kernel keeps ttyS entries for UARTs that are not there; their type reads 0.
bool serialTty(const std::string& name, const fs::path& classEntry) {
    if (startsWith(name, "ttyACM") || startsWith(name, "ttyUSB"))
        return true;
    if (!startsWith(name, "ttyS"))
        return false;
    const std::string type = readAttribute(classEntry / "type");
    return !type.empty() && type != "0";
}

// The USB device is the first folder above the tty's device that has idVendor:
// the interface's parent for ACM, one more step for a USB serial converter.
bool findUsbDevice(fs::path dir, const fs::path& root, fs::path& usb) {
    for (int step = 0; step < 6 && !dir.empty(); ++step) {
        std::error_code ec;
        if (fs::exists(dir / "idVendor", ec)) {
            usb = dir;
            return true;
        }
        const fs::path up = dir.parent_path();
        if (up == dir || up.native().size() < root.native().size())
            break;
        dir = up;
    }
    return false;
}

// tty name -> by-id link name.
std::map<std::string, std::string> byIdLinks(const fs::path& dev) {
    std::map<std::string, std::string> links;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dev / "serial" / "by-id", ec)) {
        std::error_code lec;
        if (!entry.is_symlink(lec))
            continue;
        const fs::path target = fs::read_symlink(entry.path(), lec);
        if (!lec)
            links.emplace(target.filename().string(), entry.path().filename().string());
    }
    return links;
}

// ttyACM2 before ttyACM10; ACM, then USB, then S.
std::pair<int, long> order(const std::string& name) {
    int kind = startsWith(name, "ttyACM") ? 0 : startsWith(name, "ttyUSB") ? 1 : 2;
    const size_t digits = name.find_first_of("0123456789");
    long n = 0;
    if (digits != std::string::npos)
        n = std::strtol(name.c_str() + digits, nullptr, 10);
    return {kind, n};
}

} // namespace

std::vector<PresentPort> listPresentPorts() {
    const fs::path sys = sysfsRoot();
    const fs::path dev = devRoot();
    const auto byId = byIdLinks(dev);
    std::vector<PresentPort> ports;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(sys / "class" / "tty", ec)) {
        const std::string name = entry.path().filename().string();
        std::error_code lec;
        if (!fs::exists(entry.path() / "device", lec) || !serialTty(name, entry.path()))
            continue;
        PresentPort p;
        p.device = (dev / name).string();
        if (!fs::exists(p.device, lec))
            continue; // no device node: nothing could open it
        const fs::path hardware = fs::canonical(entry.path() / "device", lec);
        fs::path usb;
        if (!lec && findUsbDevice(hardware, fs::canonical(sys, lec), usb)) {
            p.usb = true;
            p.vendor = hexAttribute(usb / "idVendor");
            p.product = hexAttribute(usb / "idProduct");
            p.serial = readAttribute(usb / "serial");
            std::string product = readAttribute(usb / "product");
            const std::string maker = readAttribute(usb / "manufacturer");
            if (product.empty())
                product = maker.empty() ? usbIds(p) : maker;
            p.description = "USB: " + product;
        } else {
            p.description = "Последовательный порт " + name;
        }
        if (const auto link = byId.find(name); link != byId.end())
            p.identity = "by-id:" + link->second;
        else if (p.usb && !p.serial.empty())
            p.identity = "usb:" + usbIds(p) + ":" + p.serial;
        else
            p.identity = "path:" + p.device;
        ports.push_back(std::move(p));
    }
    std::sort(ports.begin(), ports.end(), [](const PresentPort& a, const PresentPort& b) {
        return order(fs::path(a.device).filename().string()) < order(fs::path(b.device).filename().string());
    });
    return ports;
}
