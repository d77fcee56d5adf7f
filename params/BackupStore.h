#pragma once
// Backups of a controller's settings, taken before anything overwrites them:
// one settings file per backup, named <serial>_<YYYY-MM-DD_HH-MM-SS>.txt (local
// time), in %LOCALAPPDATA%\Z58\backups on Windows and $XDG_DATA_HOME/z58/backups
// (default ~/.local/share/z58/backups) elsewhere. Every file is kept. They hold
// the owner's PIN and phone numbers: on POSIX the folders are 0700 and the files
// 0600 (see openDataFolder).
// Paths are UTF-8; failures throw std::runtime_error with a message for the user.
#include "DataFolder.h"

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

struct BackupEntry {
    std::string path;
    std::uint32_t serial = 0;
    std::string time; // "2026-12-08 14:05:09"
};

std::string backupFileName(std::uint32_t serial, std::time_t when);

// Saves the text the controller gave (lines ending LF) as a settings file and
// returns its path. Every line is kept as the controller sent it, unknown keys
// too, so Open file and a restore give the controller back exactly this. A
// second backup within the same second gets "-2", "-3"... before ".txt".
std::string saveBackup(std::uint32_t serial, const std::string& settingsText, std::time_t when = std::time(nullptr));

// The settings text of a backup file (lines ending LF), ready for WriteSettings.
std::string backupSettingsText(const std::string& path);

// The backups in the folder, newest first; files not named as above are left out.
std::vector<BackupEntry> listBackups();
