#pragma once
// Runs each piece of work on the runner's own thread when deliverNext() gets
// to it (z58ctl, tests): the queue keeps a job's steps from nesting, so an
// upload of a thousand blocks is a loop, not a thousand calls deep.
#include "Executor.h"

#include <deque>

namespace jobs {

class InlineExecutor final : public Executor {
public:
    void submit(Item item) override { queue_.push_back(std::move(item)); }
    void abandon(const void* owner, bool cutWait) override;
    bool busy() const override { return !queue_.empty(); }
    bool deliverNext() override;

private:
    std::deque<Item> queue_;
    std::atomic<bool> cancel_{false};
};

} // namespace jobs
