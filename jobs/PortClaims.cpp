#include "PortClaims.h"

namespace jobs {

void PortClaims::hold(const void* owner, const std::string& port) {
    std::lock_guard<std::mutex> lock(mutex_);
    ports_[owner] = port;
}

void PortClaims::release(const void* owner) {
    std::lock_guard<std::mutex> lock(mutex_);
    ports_.erase(owner);
}

bool PortClaims::heldByOther(const std::string& port, const void* self) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [owner, held] : ports_)
        if (owner != self && held == port)
            return true;
    return false;
}

} // namespace jobs
