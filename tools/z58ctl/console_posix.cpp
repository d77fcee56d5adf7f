#include "Console.h"

#include <unistd.h>

std::vector<std::string> utf8Arguments(int argc, char** argv) { return std::vector<std::string>(argv, argv + argc); }

void prepareConsole() {}

bool stdoutIsTerminal() { return ::isatty(STDOUT_FILENO) != 0; }
bool stderrIsTerminal() { return ::isatty(STDERR_FILENO) != 0; }
