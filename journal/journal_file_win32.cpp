#include "JournalFile.h"

#include <windows.h>

#include <filesystem>

namespace journal {

namespace fs = std::filesystem;

namespace {

std::string folderClosed(const fs::path& file) {
    return "папка «" + file.parent_path().u8string() + "» закрыта для записи";
}

} // namespace

// The file inherits the access list of the user's own data folder.
std::string createJournalFile(const std::string& path) {
    const fs::path file = fs::u8path(path);
    const HANDLE h = ::CreateFileW(file.wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        ::CloseHandle(h);
        return {};
    }
    const DWORD err = ::GetLastError();
    if (err == ERROR_FILE_EXISTS || err == ERROR_ALREADY_EXISTS)
        return {};
    if (err == ERROR_ACCESS_DENIED || err == ERROR_WRITE_PROTECT)
        return folderClosed(file);
    if (err == ERROR_DISK_FULL || err == ERROR_HANDLE_DISK_FULL)
        return "диск заполнен";
    return "ошибка Windows " + std::to_string(err);
}

void keepJournalPrivate(const std::string& path) { (void)path; }

std::string writeRefusal(const std::string& path) {
    const fs::path file = fs::u8path(path);
    const DWORD attributes = ::GetFileAttributesW(file.wstring().c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        return "файл «" + path + "» только для чтения";
    return {};
}

} // namespace journal
