#pragma once
// Which ports this program's runners have open, so that two runners never open
// one port: a port search skips a port another runner holds, and the report's
// port checks leave it alone. Owned by the program (one for all its runners)
// and shared by them; safe to use from their threads.
#include <map>
#include <mutex>
#include <string>

namespace jobs {

class PortClaims {
public:
    // owner now holds port (whatever it held before is let go).
    void hold(const void* owner, const std::string& port);
    void release(const void* owner);
    // Another owner than self holds port.
    bool heldByOther(const std::string& port, const void* self) const;

private:
    mutable std::mutex mutex_;
    std::map<const void*, std::string> ports_;
};

} // namespace jobs
