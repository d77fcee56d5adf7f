#pragma once
// Runs z58emu for a test: starts it, waits for its "READY <path>" line (never a
// sleep), and stops it at the end of the scope.
#include <csignal>
#include <cstdio>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

class EmulatorProcess {
public:
    explicit EmulatorProcess(std::vector<std::string> args, int readyTimeoutMs = 5000) {
        int out[2];
        if (pipe(out) != 0)
            throw std::runtime_error("pipe");
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&fa, out[0]);
        args.insert(args.begin(), Z58EMU_PATH);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, Z58EMU_PATH, &fa, nullptr, argv.data(), environ) != 0)
            throw std::runtime_error("cannot start z58emu");
        posix_spawn_file_actions_destroy(&fa);
        ::close(out[1]);
        out_ = out[0];
        path_ = waitReady(readyTimeoutMs);
    }
    ~EmulatorProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            int status = 0;
            waitpid(pid_, &status, 0);
        }
        if (out_ >= 0)
            ::close(out_);
    }
    const std::string& path() const { return path_; }
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
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return true;
        }
        return false;
    }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string path_;
};
