#pragma once
// A fake sysfs and /dev in a temporary folder, laid out as the kernel and udev
// do: /sys/class/tty/<tty>/device -> the USB interface (or, for a USB serial
// converter, the port below it), whose USB device folder holds idVendor,
// idProduct, serial, manufacturer and product; /dev/<tty>; /dev/serial/by-id.
#include <filesystem>
#include <fstream>
#include <string>

struct FakeSysfs {
    std::filesystem::path sys, dev;
    int nextBus = 1;

    FakeSysfs(const std::filesystem::path& sysRoot, const std::filesystem::path& devRoot) : sys(sysRoot), dev(devRoot) {
        std::filesystem::create_directories(sys / "class/tty");
        std::filesystem::create_directories(dev);
    }

    static void write(const std::filesystem::path& file, const std::string& text) {
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file) << text << '\n';
    }

    // A USB device with one serial interface. node: what /dev/<tty> is (a link
    // to a real pty when something must answer on it; otherwise a plain file).
    void addUsb(const std::string& tty, const std::string& vid, const std::string& pid, const std::string& serial,
                const std::string& product, const std::string& node = {}) {
        const auto usb = sys / "devices/pci0000:00/usb1" / ("1-" + std::to_string(nextBus++));
        write(usb / "idVendor", vid);
        write(usb / "idProduct", pid);
        if (!serial.empty())
            write(usb / "serial", serial);
        if (!product.empty())
            write(usb / "product", product);
        write(usb / "manufacturer", "Maker");
        auto iface = usb / (usb.filename().string() + ":1.0");
        std::filesystem::create_directories(iface);
        auto deviceDir = iface;
        if (tty.rfind("ttyUSB", 0) == 0) { // usb-serial: tty's device is the port below the interface
            deviceDir = iface / tty;
            std::filesystem::create_directories(deviceDir);
        }
        addClassEntry(tty, deviceDir, node);
    }

    void addUart(const std::string& tty, const std::string& type) {
        const auto platform = sys / "devices/platform/serial8250";
        std::filesystem::create_directories(platform);
        addClassEntry(tty, platform, {});
        write(sys / "class/tty" / tty / "type", type);
    }

    void addVirtual(const std::string& tty) { // a console: no device link
        std::filesystem::create_directories(sys / "class/tty" / tty);
        write(dev / tty, "");
    }

    void addById(const std::string& link, const std::string& tty) {
        std::filesystem::create_directories(dev / "serial/by-id");
        std::filesystem::create_symlink("../../" + tty, dev / "serial/by-id" / link);
    }

    void unplug(const std::string& tty) {
        std::filesystem::remove_all(sys / "class/tty" / tty);
        std::filesystem::remove(dev / tty);
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(dev / "serial/by-id", ec))
            if (std::filesystem::read_symlink(e.path()).filename() == tty)
                std::filesystem::remove(e.path());
    }

private:
    void addClassEntry(const std::string& tty, const std::filesystem::path& deviceDir, const std::string& node) {
        const auto entry = sys / "class/tty" / tty;
        std::filesystem::create_directories(entry);
        std::filesystem::create_symlink(deviceDir, entry / "device");
        if (node.empty())
            write(dev / tty, "");
        else
            std::filesystem::create_symlink(node, dev / tty);
    }
};
