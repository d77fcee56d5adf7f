#include "EventLoop.h"

namespace jobs {

void PlainLoop::post(std::function<void()> call) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back(std::move(call));
    }
    wake_.notify_one();
}

void PlainLoop::after(std::uint32_t ms, std::function<void()> call) {
    std::lock_guard<std::mutex> lock(mutex_);
    timers_.emplace(Clock::now() + std::chrono::milliseconds(ms), std::move(call));
}

void PlainLoop::quit() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
}

bool PlainLoop::runOne(Clock::time_point until) {
    std::function<void()> call;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            if (quit_)
                return false;
            if (!calls_.empty()) {
                call = std::move(calls_.front());
                calls_.pop_front();
                break;
            }
            const Clock::time_point now = Clock::now();
            if (!timers_.empty() && timers_.begin()->first <= now) {
                call = std::move(timers_.begin()->second);
                timers_.erase(timers_.begin());
                break;
            }
            if (now >= until)
                return false;
            const Clock::time_point next = timers_.empty() ? until : std::min(until, timers_.begin()->first);
            wake_.wait_until(lock, next);
        }
    }
    call();
    return true;
}

bool PlainLoop::takeQuit() {
    std::lock_guard<std::mutex> lock(mutex_);
    const bool was = quit_;
    quit_ = false;
    return was;
}

void PlainLoop::run() {
    for (;;) {
        // A bounded wait: a time point far off overflows some waits.
        if (!runOne(Clock::now() + std::chrono::hours(1)) && takeQuit())
            return;
    }
}

bool PlainLoop::runUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const Clock::time_point until = Clock::now() + limit;
    while (!done()) {
        if (!runOne(until)) {
            takeQuit();
            return done();
        }
    }
    // A quit() asked by the call that made done() hold is this wait's, not the next one's.
    takeQuit();
    return true;
}

} // namespace jobs
