#pragma once
// The thread that runs several runners at once (a series of controllers): every
// runner's steps and the ends of their work run on it, each runner's work on a
// thread of its own. The desktop program's is its event loop; z58ctl and tests
// use PlainLoop.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <utility>

namespace jobs {

class EventLoop {
public:
    virtual ~EventLoop() = default;
    // From any thread: call runs on the loop's thread, in the order posted.
    virtual void post(std::function<void()> call) = 0;
    // On the loop's thread: call runs there once, ms from now.
    virtual void after(std::uint32_t ms, std::function<void()> call) = 0;
};

// A loop of its own for a program without one: run() handles posted calls and
// due timers until quit().
class PlainLoop final : public EventLoop {
public:
    void post(std::function<void()> call) override;
    void after(std::uint32_t ms, std::function<void()> call) override;
    // Until quit() (from any thread, also from a call it runs).
    void run();
    // Runs until done() holds or limit has passed; true when done() held.
    bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);
    void quit();

private:
    using Clock = std::chrono::steady_clock;
    // One call or timer; false when there was nothing to run before until.
    bool runOne(Clock::time_point until);
    // Whether quit() was called since the last look (and forgets it).
    bool takeQuit();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> calls_;
    std::multimap<Clock::time_point, std::function<void()>> timers_;
    bool quit_ = false;
};

} // namespace jobs
