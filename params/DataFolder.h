#pragma once
// Where this user's data lives and how the local time reads, each platform in
// its own backend (data_folder_posix.cpp, data_folder_win32.cpp).
#include <ctime>
#include <string>

// This user's data folder (UTF-8): %LOCALAPPDATA%\Z58 on Windows,
// $XDG_DATA_HOME/z58 (default ~/.local/share/z58) elsewhere, whether or not it
// exists yet. It holds the backups folder and the service journal.
std::string dataFolder();
// The folder of this user's settings backups (UTF-8), whether or not it exists yet.
std::string backupFolder();

// Makes the data folder and its backups folder where they are missing and keeps
// them to this user alone: on POSIX both folders get mode 0700 and every backup
// file loses all access for group and others, files made before included (the
// profile's own access list does this on Windows). Returns the data folder.
// Throws std::runtime_error with a message for the user when a folder cannot
// be made; a mode that cannot be changed (a folder of another user) is left.
std::string openDataFolder();

// The broken-down local time of when, thread-safe.
std::tm localTime(std::time_t when);
