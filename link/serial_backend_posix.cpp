// POSIX serial backend: termios with the observable behaviour of the Windows
// driver the controller was built for (exclusive open, raw 8N1, RTS on, read and
// write bounded by count + constant milliseconds).
#include "PortPath.h"
#include "SerialBackend.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

std::string portAliasDir() {
    if (const char* dir = std::getenv("Z58_PORT_DIR"); dir && *dir)
        return dir;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg)
        return std::string(xdg) + "/z58/ports";
    const char* home = std::getenv("HOME");
    return std::string(home ? home : "") + "/.config/z58/ports";
}

std::string devicePath(const std::string& name) {
    if (name.find('/') != std::string::npos)
        return name;
    if (name.empty())
        return {};
    return portAliasDir() + "/" + name;
}

namespace {

using Clock = std::chrono::steady_clock;

speed_t speedCode(unsigned baud) {
    switch (baud) {
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B9600;
    }
}

class PosixSerialBackend final : public SerialBackend {
public:
    ~PosixSerialBackend() override { close(); }

    bool open(const std::string& name) override {
        const std::string path = devicePath(name);
        if (path.empty())
            return false;
        int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return false;
        // TIOCEXCL alone does not stop root, so also hold an advisory lock: any
        // second open of the same port by this program fails, root or not.
        if (::isatty(fd) && ::ioctl(fd, TIOCEXCL) != 0) {
            ::close(fd);
            return false;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            return false;
        }
        // Bytes the controller sent before this open (a late reply, line noise)
        // would otherwise be read as the header of the coming reply.
        ::tcflush(fd, TCIFLUSH);
        fd_ = fd;
        return true;
    }

    bool isOpen() const override { return fd_ >= 0; }

    void close() override {
        if (fd_ < 0)
            return;
        ::ioctl(fd_, TIOCNXCL);
        ::flock(fd_, LOCK_UN);
        ::close(fd_);
        fd_ = -1;
    }

    bool readSettings() override { return ::tcgetattr(fd_, &tio_) == 0; }

    bool applySettings(const SerialLineSettings& s) override {
        termios t = tio_;
        ::cfmakeraw(&t);
        t.c_cflag &= ~(CSIZE | PARENB | CSTOPB);
        t.c_cflag |= CS8 | CLOCAL | CREAD;
        if (s.parity != 0)
            t.c_cflag |= PARENB;
        if (s.stopBits == 2)
            t.c_cflag |= CSTOPB;
        t.c_cc[VMIN] = 0;
        t.c_cc[VTIME] = 0;
        ::cfsetispeed(&t, speedCode(s.baudRate));
        ::cfsetospeed(&t, speedCode(s.baudRate));
        if (::tcsetattr(fd_, TCSANOW, &t) != 0)
            return false;
        tio_ = t;
        // RTS on; pseudo-terminals have no modem lines, which is not an error here.
        int rts = TIOCM_RTS;
        ::ioctl(fd_, TIOCMBIS, &rts);
        return true;
    }

    bool applyTimeouts(const SerialTimeouts& t) override {
        timeouts_ = t;
        return true;
    }

    bool queueCounts(int& input, int& output) override {
        int in = 0, out = 0;
        if (::ioctl(fd_, FIONREAD, &in) != 0 || ::ioctl(fd_, TIOCOUTQ, &out) != 0)
            return false;
        input = in;
        output = out;
        return true;
    }

    int write(const void* data, int count) override {
        const auto* p = static_cast<const unsigned char*>(data);
        const auto deadline = Clock::now() + limit(timeouts_.writeMultiplier, timeouts_.writeConstant, count);
        int done = 0;
        while (done < count) {
            ssize_t n = ::write(fd_, p + done, static_cast<size_t>(count - done));
            if (n > 0) {
                done += static_cast<int>(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                break;
            if (!waitFor(POLLOUT, deadline))
                break;
        }
        return done;
    }

    int read(void* buffer, int count) override {
        auto* p = static_cast<unsigned char*>(buffer);
        const auto deadline = Clock::now() + limit(timeouts_.readMultiplier, timeouts_.readConstant, count);
        int done = 0;
        while (done < count) {
            ssize_t n = ::read(fd_, p + done, static_cast<size_t>(count - done));
            if (n > 0) {
                done += static_cast<int>(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                break; // line gone (EIO after the peer vanished): no more bytes will come
            if (!waitFor(POLLIN, deadline))
                break;
        }
        return done;
    }

    bool waitForInput(int moreThan, int timeoutMs) override {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            int in = 0;
            if (::ioctl(fd_, FIONREAD, &in) == 0 && in > moreThan)
                return true;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0)
                return false;
            if (in == 0) {
                // Nothing waiting: the kernel wakes us when the first byte comes.
                pollfd pfd{fd_, POLLIN, 0};
                const int r = ::poll(&pfd, 1, static_cast<int>(left));
                if (r > 0 && (pfd.revents & POLLIN))
                    continue;
                if (r == 0)
                    return false;
                // Hung up or failed: nothing more will arrive, but the caller's
                // limit still decides when the wait ends. Sleep in steps.
                pause(std::min<long long>(left, kHangupPaceMs));
            } else {
                // Part of a frame waits; readiness says nothing about more bytes.
                pause(std::min<long long>(left, kPaceMs));
            }
        }
    }

    void waitForOutput(int timeoutMs) override { pause(std::min(timeoutMs, kPaceMs)); }

private:
    static constexpr int kPaceMs = 1;
    static constexpr int kHangupPaceMs = 10;

    static void pause(long long ms) {
        if (ms > 0)
            ::poll(nullptr, 0, static_cast<int>(ms));
    }

    static Clock::duration limit(unsigned perByte, unsigned constant, int count) {
        return std::chrono::milliseconds(static_cast<long long>(perByte) * count + constant);
    }

    // Waits until the descriptor is ready or the deadline passes. False on time-out
    // or when the line hung up (nothing more will arrive).
    bool waitFor(short events, Clock::time_point deadline) {
        for (;;) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0)
                return false;
            pollfd pfd{fd_, events, 0};
            int r = ::poll(&pfd, 1, static_cast<int>(left));
            if (r < 0 && errno == EINTR)
                continue;
            if (r <= 0)
                return false;
            if (pfd.revents & events)
                return true;
            return false; // POLLHUP / POLLERR without data
        }
    }

    int fd_ = -1;
    termios tio_{};
    SerialTimeouts timeouts_{};
};

} // namespace

std::unique_ptr<SerialBackend> makePlatformSerialBackend() {
    return std::make_unique<PosixSerialBackend>();
}
