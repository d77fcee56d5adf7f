// POSIX: getrandom(2); where the kernel lacks it, /dev/urandom.
#include "SystemRandom.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

namespace journal {

namespace {

bool fromUrandom(unsigned char* out, std::size_t size) {
    const int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd, out + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    return done == size;
}

} // namespace

bool systemRandom(unsigned char* out, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::getrandom(out + done, size - done, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == ENOSYS)
            return fromUrandom(out + done, size - done);
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace journal
