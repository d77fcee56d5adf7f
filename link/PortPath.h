#pragma once
// Turns a port name into what the operating system opens. Windows: "\\.\" + name.
// POSIX: a name containing '/' is a device path as it stands; any other name
// (normally "COMn") is an entry of the port alias folder, a link to the device.
#include <string>

// The alias folder: $Z58_PORT_DIR, else ~/.config/z58/ports (POSIX only).
std::string portAliasDir();
std::string devicePath(const std::string& name);
