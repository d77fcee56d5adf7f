// ParseVersionInfo on arbitrary texts: every field stays zero-terminated inside
// the 96-byte record.
#include "Device.h"

#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size); // c_str ends at the first zero
    static Device device("COM5");
    DeviceInfo info;
    device.ParseVersionInfo(info, text.c_str());
    if (!std::memchr(info.deviceType, 0, sizeof info.deviceType) ||
        !std::memchr(info.firmwareVersion, 0, sizeof info.firmwareVersion) ||
        !std::memchr(info.buildDate, 0, sizeof info.buildDate))
        __builtin_trap();
    return 0;
}
