#pragma once
// Runs a program to completion with the test's environment; captures its output.
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

struct ProgramResult {
    int exitCode = -1;
    std::string out, err;
};

inline ProgramResult runProgram(const std::string& program, std::vector<std::string> args, const std::string& input = "") {
    int o[2], e[2], i[2];
    ProgramResult r;
    if (pipe(o) || pipe(e) || pipe(i))
        return r;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, o[1], 1);
    posix_spawn_file_actions_adddup2(&fa, e[1], 2);
    posix_spawn_file_actions_adddup2(&fa, i[0], 0);
    for (int fd : {o[0], e[0], i[1], o[1], e[1], i[0]})
        posix_spawn_file_actions_addclose(&fa, fd);
    args.insert(args.begin(), program);
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid;
    if (posix_spawn(&pid, program.c_str(), &fa, nullptr, argv.data(), environ) != 0)
        return r;
    posix_spawn_file_actions_destroy(&fa);
    ::close(o[1]);
    ::close(e[1]);
    ::close(i[0]);
    (void)!::write(i[1], input.data(), input.size());
    ::close(i[1]);
    pollfd fds[2] = {{o[0], POLLIN, 0}, {e[0], POLLIN, 0}};
    int open = 2;
    while (open > 0 && poll(fds, 2, 60000) > 0) {
        for (int k = 0; k < 2; ++k) {
            if (fds[k].fd < 0 || !(fds[k].revents & (POLLIN | POLLHUP)))
                continue;
            char buf[4096];
            const ssize_t n = ::read(fds[k].fd, buf, sizeof buf);
            if (n <= 0) {
                ::close(fds[k].fd);
                fds[k].fd = -1;
                --open;
            } else {
                (k ? r.err : r.out).append(buf, static_cast<size_t>(n));
            }
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}
