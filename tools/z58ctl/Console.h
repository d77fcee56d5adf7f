#pragma once
// The command line and the terminal in UTF-8 on every platform: Windows hands a
// program its arguments in the ANSI code page and prints in the OEM one.
#include <string>
#include <vector>

std::vector<std::string> utf8Arguments(int argc, char** argv);
void prepareConsole();
// Whether the stream goes to a terminal (progress rewrites its line there, and
// settings are shown instead of written raw).
bool stdoutIsTerminal();
bool stderrIsTerminal();
