#pragma once
// Where this user's data lives and how the local time reads, each platform in
// its own backend (data_folder_posix.cpp, data_folder_win32.cpp).
#include <ctime>
#include <string>

// The folder of this user's settings backups (UTF-8), whether or not it exists yet.
std::string backupFolder();
// The broken-down local time of when, thread-safe.
std::tm localTime(std::time_t when);
