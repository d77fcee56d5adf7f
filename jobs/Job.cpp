#include "Job.h"

#include "BackupJob.h"
#include "PortProblem.h"

namespace jobs {

std::optional<Exchange> Job::start() { return step(0); }

std::optional<Exchange> Job::resume(int result) {
    if (!running())
        return std::nullopt;
    // The port's own complaints come first, as they did while the exchange ran.
    for (const PortNotice& n : device_->TakePortNotices())
        host_.tell(Notice{n.text, n.caption, {}, false, false});
    if (child_)
        return afterChild(child_->resume(result));
    return step(result);
}

std::optional<Exchange> Job::end(Outcome outcome) {
    outcome_ = outcome;
    host_.changed();
    return std::nullopt;
}

std::optional<Exchange> Job::enter(std::unique_ptr<Job> child) {
    child_ = std::move(child);
    return afterChild(child_->start());
}

std::optional<Exchange> Job::afterChild(std::optional<Exchange> next) {
    if (next)
        return next;
    finished_ = std::move(child_);
    return step(0);
}

std::optional<Exchange> Job::backUpFirst(bool wanted) {
    if (wanted)
        return enter(std::make_unique<BackupJob>(host_, device_, BackupJob::Mode::BeforeOverwrite));
    return step(0);
}

const BackupJob* Job::finishedBackup() const { return dynamic_cast<const BackupJob*>(finished_.get()); }

Exchange Job::call(std::function<int(DeviceInterface&)> op, std::uint32_t limitMs, Pace pace) {
    Exchange e;
    // The exchange keeps the device alive: the window may replace its device
    // (another port chosen) while an exchange runs.
    // Why a failed exchange's port cannot be used is asked right there, on the
    // exchange's own thread: asked later, its test open of the port could meet
    // the next exchange (of another window) opening it and make that one fail.
    e.run = [device = device_, op = std::move(op), why = why_] {
        const int result = op(*device);
        *why = result < 0 ? portProblem(device->PortName()) : std::string();
        return result;
    };
    e.limitMs = limitMs;
    e.pace = pace;
    return e;
}

std::string Job::portWhy() const { return *why_; }

Outcome runToEnd(Job& job) {
    for (std::optional<Exchange> next = job.start(); next; next = job.resume(next->run ? next->run() : 0)) {
    }
    return job.outcome();
}

} // namespace jobs
