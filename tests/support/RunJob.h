#pragma once
// Runs a job to its end on a runner of its own (work inline, as z58ctl does),
// against the given device; the job is the caller's.
#include "Runner.h"

#include <memory>

inline jobs::Outcome runOn(const std::shared_ptr<DeviceInterface>& device, jobs::Job& job) {
    jobs::Runner runner;
    runner.setDevice(device);
    return runner.run(std::shared_ptr<jobs::Job>(&job, [](jobs::Job*) {}));
}
