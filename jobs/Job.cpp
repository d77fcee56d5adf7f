#include "Job.h"

#include "BackupJob.h"

namespace jobs {

std::optional<Work> Job::start(JobContext context) {
    context_ = std::move(context);
    device_ = context_.device;
    return step(0);
}

std::optional<Work> Job::resume(const WorkResult& result) {
    if (!running())
        return std::nullopt;
    // The port's own complaints come first, as they did while the work ran.
    for (const PortNotice& n : result.notices)
        host_.tell(Notice{n.text, n.caption, {}, false, false});
    why_ = result.code < 0 ? result.portWhy : std::string();
    if (child_)
        return afterChild(child_->resume(WorkResult{result.code, {}, result.portWhy}));
    return step(result.code);
}

void Job::interrupt() {
    if (!running())
        return;
    if (child_)
        child_->interrupt();
    interrupted();
    outcome_ = Outcome::Interrupted;
}

void Job::abort() {
    if (!running())
        return;
    if (child_)
        child_->abort();
    interrupted();
    outcome_ = Outcome::Failed;
}

std::optional<Work> Job::end(Outcome outcome) {
    outcome_ = outcome;
    host_.changed();
    return std::nullopt;
}

std::optional<Work> Job::enter(std::unique_ptr<Job> child) {
    child_ = std::move(child);
    return afterChild(child_->start(context_));
}

std::optional<Work> Job::afterChild(std::optional<Work> next) {
    if (next)
        return next;
    finished_ = std::move(child_);
    return step(0);
}

std::optional<Work> Job::backUpFirst(bool wanted) {
    if (wanted)
        return enter(std::make_unique<BackupJob>(host_, BackupJob::Mode::BeforeOverwrite));
    return step(0);
}

const BackupJob* Job::finishedBackup() const { return dynamic_cast<const BackupJob*>(finished_.get()); }

Work Job::call(std::function<int(DeviceInterface&)> op, std::uint32_t limitMs, Pace pace) {
    Work w;
    w.run = std::move(op);
    w.limitMs = limitMs;
    w.pace = pace;
    return w;
}

} // namespace jobs
