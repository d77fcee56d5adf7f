#pragma once
// The computer and the OS user a record is made on, one backend per OS
// (workstation_posix.cpp, workstation_win32.cpp). UTF-8.
#include <string>

namespace journal {

// The host name ("workshop-3"); empty when the OS does not tell.
std::string pcName();
// The login name of the user the program runs as; the numeric id where it has no name.
std::string osUserName();

} // namespace journal
