#pragma once
// The command line and the terminal in UTF-8 on every platform: Windows hands a
// program its arguments in the ANSI code page and prints in the OEM one.
#include <functional>
#include <string>
#include <vector>

std::vector<std::string> utf8Arguments(int argc, char** argv);
void prepareConsole();
// Whether the stream goes to a terminal (progress rewrites its line there, and
// settings are shown instead of written raw).
bool stdoutIsTerminal();
bool stderrIsTerminal();
// Standard output as bytes from now on: Windows' text mode writes a CR before
// every LF, also after the CR a settings text already has (CR CR LF).
void stdoutAsBytes();

// From now on the first Ctrl+C (SIGINT, SIGTERM, SIGHUP; on Windows Ctrl+C,
// Ctrl+Break, the console closed) calls stop, on a thread of its own: it only
// hands over to the program's own thread. A second one, or one while no stop is
// set (stop empty), ends the program at once. Call it before any other thread
// starts: on POSIX the signals are taken by a thread of its own, the others
// never see them.
void onInterrupt(std::function<void()> stop);
