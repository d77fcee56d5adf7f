#pragma once
// A raw pseudo-terminal pair: the test plays the far end on the master while the
// code under test opens the slave's path like a serial port.
#include <fcntl.h>
#include <pty.h>
#include <string>
#include <termios.h>
#include <unistd.h>

struct PtyPair {
    int master = -1, slave = -1;
    std::string path;
    PtyPair() {
        char name[256] = {};
        termios t{};
        cfmakeraw(&t);
        if (openpty(&master, &slave, name, &t, nullptr) == 0)
            path = name;
    }
    ~PtyPair() {
        if (slave >= 0) ::close(slave);
        if (master >= 0) ::close(master);
    }
    void closeMaster() {
        if (master >= 0) ::close(master);
        master = -1;
    }
    void send(const std::string& bytes) const { (void)!::write(master, bytes.data(), bytes.size()); }
    std::string receive(size_t max = 4096, int waitMs = 500) const;
};

inline std::string PtyPair::receive(size_t max, int waitMs) const {
    std::string out;
    for (int waited = 0; waited < waitMs && out.size() < max;) {
        char buf[4096];
        fd_set set;
        FD_ZERO(&set);
        FD_SET(master, &set);
        timeval tv{0, 10000};
        if (select(master + 1, &set, nullptr, nullptr, &tv) > 0) {
            ssize_t n = ::read(master, buf, sizeof buf);
            if (n <= 0) break;
            out.append(buf, static_cast<size_t>(n));
            continue;
        }
        waited += 10;
        if (!out.empty()) break;
    }
    return out;
}
