#include "DataFolder.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {
std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

void makeFolder(const fs::path& folder) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (!fs::is_directory(folder, ec))
        throw std::runtime_error("Папка " + folder.u8string() + " не создаётся" + (ec ? ": " + ec.message() : ""));
}
} // namespace

std::string dataFolder() {
    const std::string local = env("LOCALAPPDATA");
    if (!local.empty())
        return (fs::u8path(local) / "Z58").u8string();
    return (fs::u8path(env("USERPROFILE")) / "AppData" / "Local" / "Z58").u8string();
}

std::string backupFolder() { return (fs::u8path(dataFolder()) / "backups").u8string(); }

// The folders inherit the access list of the user's profile, which only the
// user (and the system's administrators) may read.
std::string openDataFolder() {
    makeFolder(fs::u8path(dataFolder()));
    makeFolder(fs::u8path(backupFolder()));
    return dataFolder();
}

std::tm localTime(std::time_t when) {
    std::tm local{};
    localtime_s(&local, &when);
    return local;
}
