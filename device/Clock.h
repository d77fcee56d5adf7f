#pragma once
// Monotonic millisecond clock for the reply time limits. Only differences of two
// readings are used, in unsigned 32-bit arithmetic, so wrap-around is harmless.
// Tests inject a fake to drive 10 s and 20 s limits without waiting.
#include <cstdint>

class MonotonicClock {
public:
    virtual ~MonotonicClock() = default;
    virtual std::uint32_t nowMs() = 0;
};

MonotonicClock& systemClock();
