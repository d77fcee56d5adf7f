#pragma once
// The remembered port ("COM5" and the like): the one setting the program keeps.
// Windows keeps it in the registry, POSIX in $XDG_CONFIG_HOME/z58/port.
#include <string>

class PortSettingStore {
public:
    virtual ~PortSettingStore() = default;
    // The stored port name; empty when nothing is stored or it cannot be read.
    virtual std::string read() = 0;
    // False when the value could not be stored.
    virtual bool write(const std::string& port) = 0;
    // Where the value lives, for people ("~/.config/z58/port", a registry key).
    virtual std::string location() const = 0;
};

// The platform's store; lives as long as the program.
PortSettingStore& portSettingStore();

// The default port remembered on a first start.
constexpr const char* kDefaultPort = "COM5";
