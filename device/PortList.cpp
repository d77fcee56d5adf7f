#include "PortList.h"

#include <cstdio>

std::string usbIds(const PresentPort& port) {
    if (!port.usb)
        return "-";
    char ids[16];
    std::snprintf(ids, sizeof ids, "%04x:%04x", port.vendor & 0xFFFF, port.product & 0xFFFF);
    return ids;
}
