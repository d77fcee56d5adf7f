#include "DataFolder.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <filesystem>
#include <stdexcept>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

constexpr mode_t kPrivateFolder = 0700;
constexpr mode_t kGroupOtherBits = 077;

std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

// Makes the folder (its parents with the usual mode) and leaves it 0700. A
// link to a folder is followed: the user made it so on purpose.
void makePrivateFolder(const std::string& folder) {
    std::error_code ec;
    const fs::path path = fs::u8path(folder);
    if (path.has_parent_path())
        fs::create_directories(path.parent_path(), ec);
    if (::mkdir(folder.c_str(), kPrivateFolder) != 0 && errno != EEXIST)
        throw std::runtime_error("Папка " + folder + " не создаётся: " + std::strerror(errno));
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        throw std::runtime_error("Папка " + folder + " не создаётся: на её месте не папка");
    if ((st.st_mode & 07777) != kPrivateFolder)
        ::chmod(folder.c_str(), kPrivateFolder);
}

// Backups made before the folder was private were readable by every user.
void privatizeFiles(const std::string& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string path = folder + "/" + entry->d_name;
        struct stat st {};
        // lstat: a link is not a backup of ours and whatever it names stays as it is.
        if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || (st.st_mode & kGroupOtherBits) == 0)
            continue;
        ::chmod(path.c_str(), st.st_mode & 07777 & ~kGroupOtherBits);
    }
    ::closedir(dir);
}

} // namespace

std::string dataFolder() {
    const std::string data = env("XDG_DATA_HOME");
    if (!data.empty())
        return data + "/z58";
    return env("HOME") + "/.local/share/z58";
}

std::string backupFolder() { return dataFolder() + "/backups"; }

std::string openDataFolder() {
    const std::string data = dataFolder();
    makePrivateFolder(data);
    makePrivateFolder(backupFolder());
    privatizeFiles(backupFolder());
    return data;
}

std::tm localTime(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    return local;
}
