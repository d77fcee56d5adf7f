#pragma once
// One runner per controller: everything a job needs to talk to one controller
// on one port, and nothing shared with another runner. It owns the device (with
// its own reply buffer), the upload slot (one upload at a time on this
// controller), the trace of its exchanges, and the executor that does its work
// (the desktop program: a thread of its own; z58ctl and tests: inline). It runs
// every job the same way: start, each piece of work through the executor,
// resume with the result, pace uploads as the program asks, drop a job when
// its window closes or another job takes over, and tell an observer of every
// job's start and end. Several jobs may run on one runner at once (a Version
// click during a sound upload): their work queues on the one executor and runs
// in turn. Every method is called on the runner's thread.
#include "Executor.h"
#include "ExchangeTrace.h"
#include "Job.h"
#include "UploadSlot.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>

namespace jobs {

class JobJournal;
class PortClaims;

// A series' unit whose jobs a runner runs (an empty id: none), and what the
// series already read of it (UTF-8; empty: not yet).
struct SeriesTag {
    std::string id;
    int unit = 0;
    std::uint32_t serial = 0;
    std::string deviceType, firmware;
};

// The program's pacing of upload steps (the window: its timer ticks).
class Pacer {
public:
    virtual ~Pacer() = default;
    // Calls due once, on the runner's thread, when the next tick of pace falls due.
    virtual void wait(Pace pace, std::function<void()> due) = 0;
    virtual void cancel(Pace pace) = 0;
};

// Told of every job the runner starts and how each ended (also when dropped:
// Interrupted). Children of a job are part of it, not jobs of their own.
class JobObserver {
public:
    virtual ~JobObserver() = default;
    virtual void jobStarted(const Job& job) = 0;
    virtual void jobEnded(const Job& job) = 0;
};

class Runner {
public:
    using RunId = std::uint64_t;
    using Ended = std::function<void(Outcome)>;
    // Runs each step; the desktop program's catches what escapes and shows it.
    using Guard = std::function<void(const std::function<void()>&)>;

    // claims: the program's record of open ports, shared by its runners (may be null).
    explicit Runner(std::unique_ptr<Executor> executor, PortClaims* claims = nullptr);
    // Work runs inline, on this thread, as run() gets to it.
    explicit Runner(PortClaims* claims = nullptr);
    ~Runner();
    Runner(const Runner&) = delete;
    Runner& operator=(const Runner&) = delete;

    // The controller jobs started from now on talk to (another port chosen: a
    // new device; running jobs finish on theirs).
    void setDevice(DevicePtr device);
    const DevicePtr& device() const { return device_; }
    // Where this runner's devices note their exchanges.
    ExchangeTrace& trace() { return trace_; }
    const UploadSlot& uploads() const { return uploads_; }
    Executor& executor() { return *executor_; }
    void setPacer(Pacer* pacer) { pacer_ = pacer; }
    void setGuard(Guard guard) { guard_ = std::move(guard); }
    void setObserver(JobObserver* observer) { observer_ = observer; }
    // Where the jobs it starts are recorded (may be null: nowhere); shared by
    // the program's runners, it outlives them.
    void setJournal(JobJournal* journal) { journal_ = journal; }
    // The jobs started from now on are a series' unit, known by its serial
    // number (and type and version) before they read it: their records say so.
    void setSeries(SeriesTag tag) { series_ = std::move(tag); }

    // Starts job on the current device; ended runs once when it has ended by
    // itself (not when dropped). takesOver: a running job this one replaces once
    // its first steps have asked for work (its running exchange is left to
    // finish); when the new job ends at once (a question answered no), the old
    // one goes on. 0 for a job that does not start (no device).
    RunId start(std::shared_ptr<Job> job, Ended ended = {}, RunId takesOver = 0);
    bool running(RunId id) const { return id && runs_.count(id) > 0; }
    Job* job(RunId id) const;
    // A job runs or work waits.
    bool busy() const { return !runs_.empty() || executor_->busy(); }
    // No further step, box or work for it; with cutWait its running exchange's
    // reply wait is cut short. Its end is told to the observer (Interrupted),
    // not to its ended.
    void drop(RunId id, bool cutWait = true);
    void dropAll();

    // Runs job to its end on this thread (z58ctl, tests): every step at once,
    // unless a pacer was set.
    Outcome run(std::shared_ptr<Job> job);

private:
    struct Run {
        RunId id = 0;
        std::shared_ptr<Job> job;
        Ended ended;
        std::optional<Pace> waitingTick;
        bool dropped = false;
    };
    using RunPtr = std::shared_ptr<Run>;

    // Calls f under the guard; the work it asks for, or none when it threw.
    std::optional<Work> step(const RunPtr& run, const std::function<std::optional<Work>()>& f);
    void advance(const RunPtr& run, std::optional<Work> next);
    void submit(const RunPtr& run, const Work& work);
    void finish(const RunPtr& run);
    void holdPort();

    PortClaims* claims_;
    DevicePtr device_;
    ExchangeTrace trace_;
    UploadSlot uploads_;
    Pacer* pacer_ = nullptr;
    Guard guard_;
    JobObserver* observer_ = nullptr;
    JobJournal* journal_ = nullptr;
    SeriesTag series_;
    std::map<RunId, RunPtr> runs_;
    RunId nextId_ = 1;
    // Last: it ends (its thread joined) before anything its work uses goes.
    std::unique_ptr<Executor> executor_;
};

} // namespace jobs
