#pragma once
// Runs z58emu for a test: starts it, waits for its "READY <path>" line (never a
// sleep), and stops it at the end of the scope; one that never gets ready is
// stopped before the constructor throws.
#include "ChildProcess.h"
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

class EmulatorProcess {
public:
    explicit EmulatorProcess(std::vector<std::string> args, int readyTimeoutMs = 5000) {
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe");
        pid_ = child_process::spawn(Z58EMU_PATH, args, -1, out[1], -1);
        ::close(out[1]);
        out_ = out[0];
        if (pid_ < 0) {
            ::close(out_);
            throw std::runtime_error("cannot start z58emu");
        }
        try {
            path_ = waitReady(readyTimeoutMs);
        } catch (...) {
            stop();
            ::close(out_);
            throw;
        }
    }
    ~EmulatorProcess() {
        stop();
        if (out_ >= 0)
            ::close(out_);
    }
    EmulatorProcess(const EmulatorProcess&) = delete;
    EmulatorProcess& operator=(const EmulatorProcess&) = delete;
    const std::string& path() const { return path_; }
    pid_t pid() const { return pid_; }
    // After a restart with a line drop the emulator announces its new line.
    std::string waitReady(int timeoutMs) {
        std::string line;
        while (true) {
            pollfd p{out_, POLLIN, 0};
            if (poll(&p, 1, timeoutMs) <= 0)
                throw std::runtime_error("z58emu did not get ready");
            char c;
            if (::read(out_, &c, 1) != 1)
                throw std::runtime_error("z58emu ended before it was ready");
            if (c == '\n')
                break;
            line += c;
        }
        if (line.rfind("READY ", 0) != 0)
            throw std::runtime_error("unexpected z58emu output: " + line);
        return line.substr(6);
    }
    bool exited() {
        int status = 0;
        if (pid_ > 0 && waitpid(pid_, &status, WNOHANG) == pid_)
            pid_ = -1;
        return pid_ < 0;
    }

private:
    void stop() {
        if (pid_ > 0)
            child_process::stop(pid_);
        pid_ = -1;
    }

    pid_t pid_ = -1;
    int out_ = -1;
    std::string path_;
};
