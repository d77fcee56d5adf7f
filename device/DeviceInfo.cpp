#include "DeviceInfo.h"

DeviceInfo parseVersionText(const char* text) {
    DeviceInfo info;
    std::memset(&info, 0, sizeof info);
    if (!text)
        return info;
    auto copyPart = [](char* field, size_t size, const char* from, size_t length) {
        std::memcpy(field, from, length < size - 1 ? length : size - 1);
    };
    const size_t total = std::strlen(text);
    const char* end = text + total;
    const char* lf1 = static_cast<const char*>(std::memchr(text, '\n', total));
    copyPart(info.deviceType, sizeof info.deviceType, text, static_cast<size_t>((lf1 ? lf1 : end) - text));
    if (!lf1)
        return info;
    const char* second = lf1 + 1;
    const char* lf2 = static_cast<const char*>(std::memchr(second, '\n', static_cast<size_t>(end - second)));
    copyPart(info.firmwareVersion, sizeof info.firmwareVersion, second, static_cast<size_t>((lf2 ? lf2 : end) - second));
    if (!lf2)
        return info;
    copyPart(info.buildDate, sizeof info.buildDate, lf2 + 1, static_cast<size_t>(end - (lf2 + 1)));
    return info;
}

std::string deviceTypeName(const std::string& type) { return type == "QV_r2" ? "Z58 (r2)" : type; }

int compareVersions(const std::string& a, const std::string& b) {
    const size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        const auto x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x != y)
            return x < y ? -1 : 1;
    }
    if (a.size() == b.size())
        return 0;
    return a.size() < b.size() ? -1 : 1;
}
