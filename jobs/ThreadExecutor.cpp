#include "ThreadExecutor.h"

namespace jobs {

ThreadExecutor::ThreadExecutor(Post post, ExecutorWatch* watch) : post_(std::move(post)), watch_(watch) {
    thread_ = std::thread([this] { workerLoop(); });
}

ThreadExecutor::~ThreadExecutor() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
        queue_.clear();
        cancel_ = true;
    }
    wake_.notify_all();
    thread_.join();
    leftovers_.clear();
    mailbox_.clear();
    // Calls already queued in the event loop find this gone and do nothing.
    alive_.reset();
}

void ThreadExecutor::handBack(std::function<void()> call) {
    if (post_) {
        post_([alive = std::weak_ptr<bool>(alive_), call = std::move(call)] {
            if (alive.lock())
                call();
        });
        return;
    }
    mailbox_.push_back(std::move(call));
    delivered_.notify_all();
}

void ThreadExecutor::submit(Item item) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back(std::move(item));
    }
    wake_.notify_all();
}

void ThreadExecutor::abandon(const void* owner, bool cutWait) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = queue_.begin(); it != queue_.end();)
        it = it->owner == owner ? queue_.erase(it) : it + 1;
    if (running_ && runningOwner_ == owner) {
        runningAbandoned_ = true;
        if (cutWait)
            cancel_ = true;
    }
}

bool ThreadExecutor::busy() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return running_ || !queue_.empty();
}

bool ThreadExecutor::deliverNext() {
    std::unique_lock<std::mutex> lock(mutex_);
    delivered_.wait(lock, [this] { return !mailbox_.empty() || (!running_ && queue_.empty()); });
    if (mailbox_.empty())
        return false;
    std::function<void()> call = std::move(mailbox_.front());
    mailbox_.pop_front();
    lock.unlock();
    call();
    return true;
}

void ThreadExecutor::workerLoop() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
        if (stop_)
            return;
        Item item = std::move(queue_.front());
        queue_.pop_front();
        running_ = true;
        runningAbandoned_ = false;
        runningOwner_ = item.owner;
        cancel_ = false;
        if (watch_)
            handBack([watch = watch_, host = item.host, limit = item.limitMs, search = item.search] {
                watch->workStarted(host, limit, search);
            });
        lock.unlock();

        WorkControls controls;
        controls.cancel = &cancel_;
        if (item.search && watch_)
            controls.searching = [this](const std::string& port) {
                std::lock_guard<std::mutex> relock(mutex_);
                handBack([watch = watch_, port] { watch->searching(port); });
            };
        WorkResult result;
        try {
            result = item.run(controls);
        } catch (...) {
            result.code = -1;  // the core reports by result codes; nothing should get here
        }
        // The end, told or not, goes back to the runner's thread: what it holds
        // (the job) is the runner's and ends there, never on this thread.
        std::function<void(WorkResult)> done = std::move(item.done);
        item = Item{};

        lock.lock();
        running_ = false;
        if (stop_) {
            leftovers_.push_back(std::move(done));
        } else {
            // One call back for the end: the waiting line goes, then the job's next step.
            const bool tell = !runningAbandoned_ && done;
            handBack([watch = watch_, done = std::move(done), result = std::move(result), tell]() mutable {
                if (watch)
                    watch->workEnded();
                if (tell)
                    done(std::move(result));
            });
        }
        runningOwner_ = nullptr;
    }
}

} // namespace jobs
