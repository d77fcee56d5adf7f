#pragma once
// Random bytes from the operating system's own generator (getrandom on POSIX,
// BCryptGenRandom on Windows), one backend per OS: system_random_posix.cpp,
// system_random_win32.cpp.
#include <cstddef>

namespace journal {

// Fills size bytes at out; false when the OS could not give them.
bool systemRandom(unsigned char* out, std::size_t size);

} // namespace journal
