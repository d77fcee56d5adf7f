#pragma once
// The roots the POSIX port code looks at; tests point them at fake trees.
#include <cstdlib>
#include <string>

inline std::string rootFromEnv(const char* variable, const char* fallback) {
    const char* value = std::getenv(variable);
    return value && *value ? value : fallback;
}
inline std::string sysfsRoot() { return rootFromEnv("Z58_SYSFS_ROOT", "/sys"); }
inline std::string devRoot() { return rootFromEnv("Z58_DEV_ROOT", "/dev"); }
inline std::string procRoot() { return rootFromEnv("Z58_PROC_ROOT", "/proc"); }
inline std::string udevDataRoot() { return rootFromEnv("Z58_UDEV_DATA", "/run/udev/data"); }
