#pragma once
// Child processes of a test that end with the test, however it ends. Scope
// guards stop them when a test fails or throws; a crash or ctest's time limit
// runs no destructor, so on Linux each child is also signalled when the thread
// that started it dies (start children from the test's own thread, not from a
// helper thread that ends first).
#include <cerrno>
#include <chrono>
#include <csignal>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>
#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace child_process {

// In a child just forked (async-signal-safe): SIGNAL when the parent ends.
inline void endWithParent(pid_t parent, int signal) {
#ifdef __linux__
    ::prctl(PR_SET_PDEATHSIG, signal);
    if (::getppid() != parent) // the parent ended before prctl
        ::_exit(125);
#else
    (void)parent;
    (void)signal;
#endif
}

// fork() for test code run in a child; the child is killed when the test dies.
inline pid_t forkTied() {
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0)
        endWithParent(parent, SIGKILL);
    return pid;
}

// Starts PROGRAM with ARGS (argv[1]...) and the given descriptors as its
// stdin, stdout and stderr (-1 keeps the test's own); SIGTERM reaches it when
// the test dies. Pass descriptors made with O_CLOEXEC: the child keeps only
// these three. Returns -1 when fork fails; a program that cannot be executed
// exits 127.
inline pid_t spawn(const std::string& program, const std::vector<std::string>& args, int in, int out, int err) {
    std::vector<std::string> all{program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid != 0)
        return pid;
    // Only async-signal-safe calls from here: the test may have other threads.
    endWithParent(parent, SIGTERM);
    const int fds[3] = {in, out, err};
    for (int target = 0; target < 3; ++target)
        if (fds[target] >= 0 && ::dup2(fds[target], target) < 0)
            ::_exit(127);
    ::execv(argv[0], argv.data());
    ::_exit(127);
}

// Waits up to TIMEOUT for PID to end, then kills it; returns its wait status
// (-1 when it was not a child any more).
inline int reap(pid_t pid, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    while (true) {
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid)
            return status;
        if (r < 0 && errno != EINTR)
            return -1;
        if (std::chrono::steady_clock::now() >= end)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ::kill(pid, SIGKILL);
    while (::waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    return status;
}

// SIGNAL, then reap() it.
inline int stop(pid_t pid, int signal = SIGTERM, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    ::kill(pid, signal);
    return reap(pid, timeout);
}

// Kills and reaps a forked child at the end of the scope, unless the test took
// it back with release() to wait for it itself.
class Guard {
public:
    explicit Guard(pid_t pid) : pid_(pid) {}
    ~Guard() {
        if (pid_ > 0)
            stop(pid_, SIGKILL);
    }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;
    pid_t release() {
        const pid_t pid = pid_;
        pid_ = -1;
        return pid;
    }

private:
    pid_t pid_;
};

} // namespace child_process
