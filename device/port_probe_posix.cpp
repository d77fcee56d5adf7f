#include "PortPath.h"
#include "PortProbe.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

bool probeSerialPort(const std::string& portName) {
    const std::string path = devicePath(portName);
    // A number with no entry in the alias folder is no port: skipped without an open.
    if (path.empty() || ::access(path.c_str(), F_OK) != 0)
        return false;
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    termios t{};
    ok = ok && ::tcgetattr(fd, &t) == 0;
    if (ok) {
        ::cfmakeraw(&t);
        t.c_cflag = (t.c_cflag & ~(CSIZE | PARENB | CSTOPB)) | CS8 | CLOCAL | CREAD;
        ::cfsetispeed(&t, B115200);
        ::cfsetospeed(&t, B115200);
        ok = ::tcsetattr(fd, TCSANOW, &t) == 0;
    }
    // The short time-outs of the probe apply to reads it never makes: nothing to set.
    ::flock(fd, LOCK_UN);
    ::close(fd);
    return ok;
}
