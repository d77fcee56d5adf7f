// POSIX: open(O_EXCL) a uniquely named temporary, fsync it, rename, fsync the folder.
#include "FileReplace.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr int kMaxLinkHops = 40; // as the kernel's own limit for one lookup

[[noreturn]] void fail(const std::string& path, const std::string& reason) {
    throw std::runtime_error("Не удалось записать файл \"" + path + "\": " + reason);
}

std::string reason(int err) { return std::strerror(err); }

// The file a path finally names, following symbolic links (a dangling link
// names the file it would create).
fs::path finalTarget(const std::string& path) {
    fs::path p = fs::u8path(path);
    for (int hops = 0; hops < kMaxLinkHops; ++hops) {
        std::error_code ec;
        if (!fs::is_symlink(fs::symlink_status(p, ec)))
            return p;
        const fs::path next = fs::read_symlink(p, ec);
        if (ec)
            fail(path, ec.message());
        p = next.is_absolute() ? next : p.parent_path() / next;
    }
    fail(path, reason(ELOOP));
}

// Closes the descriptor and removes the temporary unless it was renamed.
struct Temporary {
    int fd = -1;
    std::string name;
    bool renamed = false;
    ~Temporary() {
        if (fd >= 0)
            ::close(fd);
        if (!name.empty() && !renamed)
            ::unlink(name.c_str());
    }
};

} // namespace

void replaceFileContent(const std::string& path, const std::string& bytes, FileAccess access) {
    replaceFileStreamed(path, [&](const ContentWriter& write) { write(bytes.data(), bytes.size()); }, access);
}

void replaceFileStreamed(const std::string& path, const std::function<void(const ContentWriter& write)>& produce,
                         FileAccess access) {
    const fs::path target = finalTarget(path);
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");

    struct stat old {};
    const bool exists = ::stat(target.c_str(), &old) == 0;
    if (exists && S_ISDIR(old.st_mode))
        fail(path, "это папка");
    if (exists && !S_ISREG(old.st_mode))
        fail(path, "это не обычный файл (устройство, канал или сокет), записывать в него нельзя");

    const mode_t allowed = access == FileAccess::OwnerOnly ? mode_t(0700) : mode_t(07777);
    const mode_t mode = (exists ? old.st_mode & 07777 : mode_t(0666)) & allowed;

    static std::atomic<unsigned> counter{0};
    Temporary temp;
    for (int attempt = 0; temp.fd < 0; ++attempt) {
        temp.name = target.string() + ".z58tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
        temp.fd = ::open(temp.name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (temp.fd >= 0)
            break;
        const int err = errno;
        temp.name.clear();
        if (err == EEXIST && attempt < 100)
            continue; // a leftover of an earlier save: take another name
        if ((err == EACCES || err == EPERM) && ::access(folder.c_str(), W_OK) != 0)
            throw std::runtime_error("Не удалось записать файл \"" + path + "\": папка \"" + folder.u8string() +
                                     "\" закрыта для записи, а файл заменяется только через новый файл рядом с ним. "
                                     "Сохраните в другую папку.");
        fail(path, reason(err));
    }
    if (exists) {
        // The new file keeps the old one's mode (the umask applied at creation
        // may have taken bits away) and, where we may, its owner.
        ::fchmod(temp.fd, mode);
        if (::geteuid() == 0)
            (void)!::fchown(temp.fd, old.st_uid, old.st_gid);
    }
    produce([&](const char* data, std::size_t size) {
        std::size_t done = 0;
        while (done < size) {
            const ssize_t n = ::write(temp.fd, data + done, size - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                fail(path, reason(n < 0 ? errno : ENOSPC));
            done += static_cast<std::size_t>(n);
        }
    });
    if (::fsync(temp.fd) != 0)
        fail(path, reason(errno));
    const int fd = temp.fd;
    temp.fd = -1;
    if (::close(fd) != 0)
        fail(path, reason(errno));
    if (::rename(temp.name.c_str(), target.c_str()) != 0)
        fail(path, reason(errno));
    temp.renamed = true;
    // The rename itself is on disk only once the folder is.
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}
