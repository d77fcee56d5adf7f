#pragma once
// Runs a program to completion with the test's environment; captures its output.
// One that is still running after a minute is killed (exit code -1), so a hang
// fails the test instead of outliving it.
#include "ChildProcess.h"
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

struct ProgramResult {
    int exitCode = -1;
    std::string out, err;
};

inline ProgramResult runProgram(const std::string& program, std::vector<std::string> args, const std::string& input = "",
                                std::chrono::milliseconds limit = std::chrono::seconds(60)) {
    int o[2] = {-1, -1}, e[2] = {-1, -1}, i[2] = {-1, -1};
    ProgramResult r;
    if (::pipe2(o, O_CLOEXEC) || ::pipe2(e, O_CLOEXEC) || ::pipe2(i, O_CLOEXEC)) {
        for (int fd : {o[0], o[1], e[0], e[1], i[0], i[1]})
            if (fd >= 0)
                ::close(fd);
        return r;
    }
    const pid_t pid = child_process::spawn(program, args, i[0], o[1], e[1]);
    for (int fd : {o[1], e[1], i[0]})
        ::close(fd);
    if (pid < 0) {
        for (int fd : {o[0], e[0], i[1]})
            ::close(fd);
        return r;
    }
    (void)!::write(i[1], input.data(), input.size());
    ::close(i[1]);
    pollfd fds[2] = {{o[0], POLLIN, 0}, {e[0], POLLIN, 0}};
    int open = 2;
    const auto end = std::chrono::steady_clock::now() + limit;
    while (open > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        const int n = poll(fds, 2, static_cast<int>(left.count()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        for (int k = 0; k < 2; ++k) {
            if (fds[k].fd < 0 || !(fds[k].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            char buf[4096];
            const ssize_t got = ::read(fds[k].fd, buf, sizeof buf);
            if (got <= 0) {
                ::close(fds[k].fd);
                fds[k].fd = -1;
                --open;
            } else {
                (k ? r.err : r.out).append(buf, static_cast<size_t>(got));
            }
        }
    }
    for (auto& f : fds)
        if (f.fd >= 0)
            ::close(f.fd);
    // Both pipes at their end: the program is ending, give it a moment; cut
    // short: kill it now.
    const int status = child_process::reap(pid, open == 0 ? std::chrono::seconds(5) : std::chrono::milliseconds(0));
    r.exitCode = status >= 0 && open == 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}
