#include "DataFolder.h"

#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

namespace {
std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}
} // namespace

std::string backupFolder() {
    const std::string local = env("LOCALAPPDATA");
    if (!local.empty())
        return (fs::u8path(local) / "Z58" / "backups").u8string();
    return (fs::u8path(env("USERPROFILE")) / "AppData" / "Local" / "Z58" / "backups").u8string();
}

std::tm localTime(std::time_t when) {
    std::tm local{};
    localtime_s(&local, &when);
    return local;
}
