#include "SystemName.h"

#include <fstream>
#include <sys/utsname.h>

std::string systemName() {
    std::string pretty;
    std::ifstream release("/etc/os-release");
    for (std::string line; std::getline(release, line);) {
        if (line.rfind("PRETTY_NAME=", 0) != 0)
            continue;
        pretty = line.substr(12);
        if (pretty.size() >= 2 && (pretty.front() == '"' || pretty.front() == '\'') && pretty.back() == pretty.front())
            pretty = pretty.substr(1, pretty.size() - 2);
    }
    utsname u{};
    std::string kernel;
    if (::uname(&u) == 0)
        kernel = std::string(u.sysname) + " " + u.release + " " + u.machine;
    if (pretty.empty())
        return kernel;
    return kernel.empty() ? pretty : pretty + ", " + kernel;
}
