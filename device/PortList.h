#pragma once
// Which serial ports exist now, and (POSIX) the COMn names they go by.
// Windows numbers its COM ports itself; on POSIX the port alias folder gets a
// COMn link per present device, numbered the way Windows would: the lowest free
// number from 2, kept for the device's stable identity so the same controller
// is the same COMn after a replug or a reboot.
//
// Test roots (POSIX): $Z58_SYSFS_ROOT (default /sys) and $Z58_DEV_ROOT
// (default /dev, including its serial/by-id folder).
#include <string>
#include <vector>

struct PresentPort {
    std::string name;         // "COM5"; empty when the port has none yet
    std::string device;       // what the OS opens: "/dev/ttyACM0"; on Windows the device object
    bool usb = false;
    unsigned vendor = 0;      // USB idVendor / idProduct
    unsigned product = 0;
    std::string serial;       // USB serial number, may be empty
    std::string description;  // for people: "USB: <product>", "Последовательный порт ttyS0"
    std::string identity;     // stable key: by-id link, else USB ids + serial, else the device path
};

// The ports the OS shows now, in a fixed order (UTF-8 texts).
std::vector<PresentPort> listPresentPorts();

// POSIX: brings the alias folder up to date with the present ports (new devices
// get a name, absent ones lose their link but keep their number) and returns
// the present ports with their names. Hand-made entries are never touched.
// Windows: the present ports as they are.
std::vector<PresentPort> refreshPortNames();

// "vvvv:pppp" for a USB port, "-" otherwise.
std::string usbIds(const PresentPort& port);
