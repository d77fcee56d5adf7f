#pragma once
// What a job's step asks its runner for next, and what comes back. Work is
// what the executor does with the controller: mostly one exchange (one request
// and its reply); the port search asks many ports in one piece of work.
#include "DeviceInterface.h"
#include "PortNotice.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace jobs {

// When the work is to run: at once, or at the next tick of an upload's pacing
// (firmware 1 ms, sound 10 ms, as the controller is used to). A runner without
// a pacer (z58ctl) runs every step at once: each block as soon as the last one
// was acknowledged.
enum class Pace { Now, FirmwareTick, SoundTick };

struct Work {
    // Runs on the executor's thread; empty: nothing to run, only wait for the tick.
    std::function<int(DeviceInterface&)> run;
    std::uint32_t limitMs = 0;  // the operation's time limit, for the waiting line
    Pace pace = Pace::Now;
    bool search = false;        // the port search: shown with the port asked
};

// The work's result code and what the port said meanwhile, handed back together
// with the result to the runner's thread: nothing of it is shared.
struct WorkResult {
    int code = 0;
    std::vector<PortNotice> notices;  // the serial port's own complaints, oldest first
    std::string portWhy;              // why the port cannot be used, where the OS tells (UTF-8)
};

} // namespace jobs
