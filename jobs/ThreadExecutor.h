#pragma once
// A runner's own thread for its work: one piece at a time, in the order
// submitted, so exchanges with its controller never overlap or nest. Each end
// is handed back to the runner's thread through post (the desktop program: a
// queued call into its event loop); without post the ends wait in a mailbox
// that deliverNext() empties (z58ctl, tests on real threads). The next piece
// starts before the last one's end is handled, so a box raised there never
// holds up an upload's blocks.
//
// Ending: the destructor cuts the running reply wait short, lets the frame
// being sent finish, and joins the thread before anything the work uses goes.
#include "Executor.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace jobs {

// Told, on the runner's thread, when work starts and ends and which port the
// search asks: the window's waiting line.
class ExecutorWatch {
public:
    virtual ~ExecutorWatch() = default;
    virtual void workStarted(const JobHost* host, std::uint32_t limitMs, bool search) = 0;
    virtual void searching(const std::string& port) = 0;
    virtual void workEnded() = 0;
};

class ThreadExecutor final : public Executor {
public:
    using Post = std::function<void(std::function<void()>)>;
    explicit ThreadExecutor(Post post = {}, ExecutorWatch* watch = nullptr);
    ~ThreadExecutor() override;

    void submit(Item item) override;
    void abandon(const void* owner, bool cutWait) override;
    bool busy() const override;
    bool deliverNext() override;
    // The user cancelled the wait (the search's Cancel): the running work's
    // reply wait ends early and the search stops before its next port.
    void cancelRunning() override { cancel_ = true; }

private:
    void workerLoop();
    // Hands a call to the runner's thread; dropped once this executor is gone.
    void handBack(std::function<void()> call);

    Post post_;
    ExecutorWatch* watch_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);

    mutable std::mutex mutex_;
    std::condition_variable wake_, delivered_;
    std::deque<Item> queue_;
    const void* runningOwner_ = nullptr;
    bool running_ = false, runningAbandoned_ = false, stop_ = false;
    std::deque<std::function<void()>> mailbox_;  // without post
    std::vector<std::function<void(WorkResult)>> leftovers_;  // ends the destructor lets go
    std::atomic<bool> cancel_{false};
    std::thread thread_;  // last: it starts with everything above in place
};

} // namespace jobs
