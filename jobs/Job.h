#pragma once
// A service job as a step machine: each step runs on the caller's thread, talks
// to the host, and ends by asking for at most one exchange with the controller.
// Whoever runs the job runs that exchange (the desktop program on its exchange
// thread, z58ctl at once) and hands its result to resume(). Jobs never touch
// the device between start() and resume(): the exchange alone does.
#include "DeviceInterface.h"
#include "JobHost.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace jobs {

class BackupJob;

// When the exchange is to run: at once, or at the next tick of an upload's
// pacing (firmware 1 ms, sound 10 ms, as the controller is used to).
enum class Pace { Now, FirmwareTick, SoundTick };

struct Exchange {
    // Runs on the exchange thread; empty: no exchange, only wait for the tick.
    std::function<int()> run;
    std::uint32_t limitMs = 0;  // the operation's time limit, for the waiting line
    Pace pace = Pace::Now;
    bool search = false;        // the port search: shown with the port asked
};

enum class Outcome {
    Running,
    Done,       // did what it was asked
    Failed,     // the controller or a file failed; the host was told
    Declined,   // the user said no (or could not be asked) before anything was changed
    Superseded, // another job of its kind took over; it ended without a word
};

using DevicePtr = std::shared_ptr<DeviceInterface>;

class Job {
public:
    Job(JobHost& host, DevicePtr device) : host_(host), device_(std::move(device)) {}
    virtual ~Job() = default;
    Job(const Job&) = delete;
    Job& operator=(const Job&) = delete;

    // Runs the first steps; the exchange to run next, or none: the job has ended.
    std::optional<Exchange> start();
    // The result of the exchange asked for last (0 for a tick without one).
    std::optional<Exchange> resume(int result);

    Outcome outcome() const { return outcome_; }
    bool running() const { return outcome_ == Outcome::Running; }
    const DevicePtr& device() const { return device_; }

protected:
    // One step: the result of the last exchange (0 at the start and after a
    // child job ended). Returns the next exchange or end(...).
    virtual std::optional<Exchange> step(int result) = 0;
    std::optional<Exchange> end(Outcome outcome);
    // Runs another job inside this one (same host and device); step() is
    // called with 0 when it has ended, and finishedChild() tells how.
    std::optional<Exchange> enter(std::unique_ptr<Job> child);
    const Job* finishedChild() const { return finished_.get(); }
    // The controller's settings backed up before an overwrite, as a child job
    // (wanted false: the next step at once); finishedBackup() then tells how it
    // went, or is null when none was taken.
    std::optional<Exchange> backUpFirst(bool wanted);
    const BackupJob* finishedBackup() const;
    // An exchange of the device, run on the exchange thread.
    Exchange call(std::function<int(DeviceInterface&)> op, std::uint32_t limitMs, Pace pace = Pace::Now);
    // Why the port of the last failed exchange cannot be used, where the OS
    // tells (UTF-8, may be empty).
    std::string portWhy() const;

    JobHost& host_;
    DevicePtr device_;

private:
    std::optional<Exchange> afterChild(std::optional<Exchange> next);

    Outcome outcome_ = Outcome::Running;
    std::unique_ptr<Job> child_, finished_;
    std::shared_ptr<std::string> why_ = std::make_shared<std::string>();
};

// Runs a job to its end on this thread, every exchange at once (z58ctl, tests).
Outcome runToEnd(Job& job);

} // namespace jobs
