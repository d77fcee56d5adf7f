#include "Console.h"

#include <cstdio>
#include <io.h>
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
