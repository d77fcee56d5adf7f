#include "BackupStore.h"

#include "DataFolder.h"
#include "SettingsFile.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

// "<serial>_YYYY-MM-DD_HH-MM-SS" with an optional "-N": the serial and the time.
bool parseName(const std::string& name, BackupEntry& e) {
    if (name.size() < 25 || name.compare(name.size() - 4, 4, ".txt") != 0)
        return false;
    const size_t us = name.find('_');
    if (us == 0 || us == std::string::npos || us > 10)
        return false;
    unsigned long long serial = 0;
    for (size_t i = 0; i < us; ++i) {
        if (name[i] < '0' || name[i] > '9')
            return false;
        serial = serial * 10 + static_cast<unsigned>(name[i] - '0');
    }
    if (serial > 0xFFFFFFFFull)
        return false;
    const std::string stamp = name.substr(us + 1, 19);
    int y, mo, d, h, mi, s;
    char tail;
    if (stamp.size() != 19 || std::sscanf(stamp.c_str(), "%4d-%2d-%2d_%2d-%2d-%2d%c", &y, &mo, &d, &h, &mi, &s, &tail) != 6)
        return false;
    const std::string rest = name.substr(us + 20, name.size() - 4 - (us + 20));
    if (!rest.empty() && (rest[0] != '-' || rest.size() < 2 || rest.find_first_not_of("0123456789", 1) != std::string::npos))
        return false;
    e.serial = static_cast<std::uint32_t>(serial);
    char when[20];
    std::snprintf(when, sizeof when, "%04d-%02d-%02d %02d:%02d:%02d", y, mo, d, h, mi, s);
    e.time = when;
    return true;
}

} // namespace

std::string backupFileName(std::uint32_t serial, std::time_t when) {
    const std::tm local = localTime(when);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d_%H-%M-%S", &local);
    return std::to_string(serial) + "_" + stamp + ".txt";
}

std::string saveBackup(std::uint32_t serial, const std::string& settingsText, std::time_t when) {
    try {
        openDataFolder();
    } catch (const std::runtime_error& e) {
        // Said of the backups folder, whichever of the two could not be made.
        throw std::runtime_error("Папка резервных копий " + backupFolder() + " не создаётся (" + e.what() + ")");
    }
    const fs::path folder = fs::u8path(backupFolder());
    std::error_code ec;
    const std::string name = backupFileName(serial, when);
    fs::path path = folder / name;
    for (int n = 2; fs::exists(fs::symlink_status(path, ec)); ++n)
        path = folder / (name.substr(0, name.size() - 4) + "-" + std::to_string(n) + ".txt");
    // An owner's PIN and phone numbers: for this user's eyes only.
    writeSettingsFile(path.u8string(), settingsText, FileAccess::OwnerOnly);
    return path.u8string();
}

std::string backupSettingsText(const std::string& path) {
    const std::string file = readSettingsFile(path);
    std::string text;
    text.reserve(file.size());
    for (size_t i = 0; i < file.size(); ++i) {
        if (file[i] == '\r' && i + 1 < file.size() && file[i + 1] == '\n')
            continue; // CR LF back to the controller's LF
        text += file[i];
    }
    return text;
}

std::vector<BackupEntry> listBackups() {
    std::vector<BackupEntry> list;
    try {
        openDataFolder(); // also takes group and others' access off older backups
    } catch (const std::runtime_error&) {
        return list; // no folder: no backups
    }
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(fs::u8path(backupFolder()), ec)) {
        std::error_code fec;
        if (!entry.is_regular_file(fec))
            continue;
        BackupEntry e;
        if (!parseName(entry.path().filename().u8string(), e))
            continue;
        e.path = entry.path().u8string();
        list.push_back(std::move(e));
    }
    // Newest first; the name's counter orders backups of the same second.
    std::sort(list.begin(), list.end(), [](const BackupEntry& a, const BackupEntry& b) {
        if (a.time != b.time)
            return a.time > b.time;
        if (a.path.size() != b.path.size())
            return a.path.size() > b.path.size();
        return a.path > b.path;
    });
    return list;
}
