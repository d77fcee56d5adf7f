#include "Clock.h"

#include <chrono>

namespace {
class SteadyClock final : public MonotonicClock {
public:
    std::uint32_t nowMs() override {
        using namespace std::chrono;
        return static_cast<std::uint32_t>(duration_cast<milliseconds>(steady_clock::now() - start_).count());
    }

private:
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};
} // namespace

MonotonicClock& systemClock() {
    static SteadyClock clock;
    return clock;
}
