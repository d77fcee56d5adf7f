#pragma once
// Where a runner's work runs. The desktop program gives each runner a thread
// of its own (ThreadExecutor, its ends handed back as queued calls); z58ctl and
// most tests run the work inline, on the runner's own thread. Work runs in the
// order it was submitted, one piece at a time, never nested. Every method is
// called on the runner's thread.
#include "Work.h"

#include <atomic>
#include <functional>
#include <string>

namespace jobs {

class JobHost;

// What the executor lends the work while it runs.
struct WorkControls {
    const std::atomic<bool>* cancel = nullptr;                    // set: end the reply wait early
    std::function<void(const std::string&)> searching;            // the port the search asks now
};

class Executor {
public:
    struct Item {
        const void* owner = nullptr;  // what abandon() names
        const JobHost* host = nullptr;  // whose window shows the wait
        std::uint32_t limitMs = 0;    // for the waiting line
        bool search = false;
        std::function<WorkResult(const WorkControls&)> run;  // on the executor's thread
        std::function<void(WorkResult)> done;                // on the runner's thread
    };

    virtual ~Executor() = default;
    virtual void submit(Item item) = 0;
    // Drops what owner still waits for; its running work's end is not handed
    // back, and with cutWait its reply wait is cut short (a frame being sent is
    // finished).
    virtual void abandon(const void* owner, bool cutWait) = 0;
    // Work runs or waits for its turn.
    virtual bool busy() const = 0;
    // The running work's reply wait ends early (a frame being sent is finished);
    // an executor whose work runs on the caller's thread has none to end.
    virtual void cancelRunning() {}
    // For a runner without an event loop (z58ctl, tests): waits for the next
    // end and hands it back; false when nothing runs or waits.
    virtual bool deliverNext() = 0;
};

} // namespace jobs
