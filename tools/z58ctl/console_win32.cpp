#include "Console.h"

#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <mutex>
#include <windows.h>
#include <shellapi.h>

std::vector<std::string> utf8Arguments(int, char**) {
    int count = 0;
    LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::vector<std::string> args;
    for (int i = 0; wide && i < count; ++i) {
        const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        std::string s(static_cast<size_t>(n > 0 ? n - 1 : 0), '\0');
        if (n > 1)
            ::WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, s.data(), n, nullptr, nullptr);
        args.push_back(std::move(s));
    }
    ::LocalFree(wide);
    return args;
}

void prepareConsole() {
    ::SetConsoleOutputCP(CP_UTF8);
    ::SetConsoleCP(CP_UTF8);
}

bool stdoutIsTerminal() { return ::_isatty(::_fileno(stdout)) != 0; }
bool stderrIsTerminal() { return ::_isatty(::_fileno(stderr)) != 0; }

void stdoutAsBytes() {
    std::fflush(stdout);
    ::_setmode(::_fileno(stdout), _O_BINARY);
}

namespace {

std::mutex interruptMutex;
std::function<void()> interruptStop;
bool interrupted = false;

// Runs on a thread the system starts for it; FALSE: the default, which ends the program.
BOOL WINAPI consoleEvent(DWORD) {
    // Called under the lock: once onInterrupt has let a stop go, it is never called.
    std::lock_guard<std::mutex> lock(interruptMutex);
    if (interrupted || !interruptStop)
        return FALSE;
    interrupted = true;
    interruptStop();
    return TRUE;
}

} // namespace

void onInterrupt(std::function<void()> stop) {
    static const bool watching = ::SetConsoleCtrlHandler(consoleEvent, TRUE) != 0;
    (void)watching;
    std::lock_guard<std::mutex> lock(interruptMutex);
    interruptStop = std::move(stop);
}
