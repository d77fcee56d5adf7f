#pragma once
// Runs z58emu for a test and stops it at the end of the scope. On POSIX the test
// spawns it on a pseudo-terminal itself; a Windows build running under Wine asks
// the Linux-side runner (tools/windows.sh) to do it and to map the line to the
// COM port named by --register.
#ifdef _WIN32
#include "EmulatorProcessWin32.h"
#else
#include "EmulatorProcessPosix.h"
#endif
