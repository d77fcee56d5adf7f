#include "JournalFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace journal {

namespace {

constexpr mode_t kOwnerOnly = 0600;
constexpr mode_t kGroupOtherBits = 077;
constexpr const char* kCompanions[] = {"", "-wal", "-shm"};

std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string folderClosed(const std::string& path) { return "папка «" + folderOf(path) + "» закрыта для записи"; }

} // namespace

std::string createJournalFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, kOwnerOnly);
    if (fd >= 0) {
        ::close(fd);
        return {};
    }
    const int err = errno;
    if (err == EEXIST)
        return {};
    if (err == EACCES || err == EPERM || err == EROFS)
        return folderClosed(path);
    if (err == ENOSPC || err == EDQUOT)
        return "диск заполнен";
    if (err == ENOENT || err == ENOTDIR)
        return "папки «" + folderOf(path) + "» нет";
    return std::strerror(err);
}

void keepJournalPrivate(const std::string& path) {
    for (const char* suffix : kCompanions) {
        const std::string file = path + suffix;
        struct stat st {};
        if (::lstat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & kGroupOtherBits) != 0)
            ::chmod(file.c_str(), st.st_mode & 07777 & ~kGroupOtherBits);
    }
}

std::string writeRefusal(const std::string& path) {
    if (::access(path.c_str(), F_OK) == 0 && ::access(path.c_str(), W_OK) != 0)
        return errno == EROFS ? "диск только для чтения" : "файл «" + path + "» закрыт для записи";
    // WAL needs its two companion files beside the journal.
    if (::access(folderOf(path).c_str(), W_OK) != 0)
        return errno == EROFS ? "диск только для чтения" : folderClosed(path);
    return {};
}

} // namespace journal
