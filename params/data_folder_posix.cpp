#include "DataFolder.h"

#include <cstdlib>

namespace {
std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}
} // namespace

std::string backupFolder() {
    const std::string data = env("XDG_DATA_HOME");
    if (!data.empty())
        return data + "/z58/backups";
    return env("HOME") + "/.local/share/z58/backups";
}

std::tm localTime(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    return local;
}
