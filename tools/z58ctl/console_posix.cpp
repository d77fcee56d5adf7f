#include "Console.h"

#include <csignal>
#include <mutex>
#include <pthread.h>
#include <thread>
#include <unistd.h>

std::vector<std::string> utf8Arguments(int argc, char** argv) { return std::vector<std::string>(argv, argv + argc); }

void prepareConsole() {}

bool stdoutIsTerminal() { return ::isatty(STDOUT_FILENO) != 0; }
bool stderrIsTerminal() { return ::isatty(STDERR_FILENO) != 0; }

void stdoutAsBytes() {}

namespace {

std::mutex interruptMutex;
std::function<void()> interruptStop;
bool interrupted = false;

sigset_t interruptSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

} // namespace

void onInterrupt(std::function<void()> stop) {
    static const bool watching = [] {
        // Blocked here, so in every thread started later too: only the watcher
        // takes them, and no exchange's read or wait is cut by one.
        const sigset_t set = interruptSignals();
        pthread_sigmask(SIG_BLOCK, &set, nullptr);
        std::thread([set] {
            for (;;) {
                int sig = 0;
                if (sigwait(&set, &sig) != 0)
                    continue;
                {
                    // Called under the lock: once onInterrupt has let a stop go, it is never called.
                    std::lock_guard<std::mutex> lock(interruptMutex);
                    if (!interrupted && interruptStop) {
                        interrupted = true;
                        interruptStop();
                        continue;
                    }
                }
                // Ended as the signal ends a program that does not catch it.
                std::signal(sig, SIG_DFL);
                sigset_t one;
                sigemptyset(&one);
                sigaddset(&one, sig);
                pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
                ::raise(sig);
                ::_exit(128 + sig);
            }
        }).detach();
        return true;
    }();
    (void)watching;
    std::lock_guard<std::mutex> lock(interruptMutex);
    interruptStop = std::move(stop);
}
