#include "Job.h"

#include "BackupJob.h"
#include "Cp1251.h"
#include "DeviceInfo.h"
#include "ResultCode.h"

namespace jobs {

journal::JobOutcome recordOutcome(Outcome outcome) {
    switch (outcome) {
    case Outcome::Done:
        return journal::JobOutcome::Done;
    case Outcome::Declined:
        return journal::JobOutcome::Declined;
    case Outcome::Running:  // ended without an end: as dropped
    case Outcome::Interrupted:
        return journal::JobOutcome::Interrupted;
    case Outcome::Failed:
    case Outcome::Refused:
        break;
    }
    return journal::JobOutcome::Failed;
}

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
    settle(outcome);
    outcome_ = outcome;
    host_.changed();
    return std::nullopt;
}

std::optional<Work> Job::enter(std::unique_ptr<Job> child) {
    child_ = std::move(child);
    JobContext inner = context_;
    inner.inner = true;  // the child's end is not the job's
    return afterChild(child_->start(std::move(inner)));
}

void Job::settle(Outcome outcome, int code, const std::string& reason) {
    if (!context_.inner)
        settleJob(outcome, code, reason);
}

void Job::settleJob(Outcome outcome, int code, const std::string& reason) {
    // The journal settles a record once: later calls change nothing.
    if (context_.recording.settle)
        context_.recording.settle(recordOutcome(outcome), code, reason);
}

std::string failureReason(const Failure& failure) {
    std::string reason = failure.what;
    const std::string detail = failure.code < 0 ? result::describe(failure.code) : failure.text;
    if (!detail.empty() && detail != reason)
        reason = reason.empty() ? detail : reason + ": " + detail;
    return reason;
}

void Job::failing(const Failure& failure, bool last) {
    const std::string reason = failureReason(failure);
    if (journal::JobRecord* r = record()) {
        // Kept for the end when it is not the last message (or a child's).
        r->code = failure.code;
        r->reason = reason;
    }
    if (last)
        settle(Outcome::Failed, failure.code, reason);
    host_.failed(failure);
}

std::optional<Work> Job::failWith(const Failure& failure, Outcome outcome) {
    failing(failure);
    return end(outcome);
}

std::optional<Work> Job::doneWith(const Notice& notice) {
    settle(Outcome::Done);
    host_.tell(notice);
    return end(Outcome::Done);
}

void Job::noteSerial(std::uint32_t serial) {
    if (journal::JobRecord* r = record())
        r->serial = serial;
}

void Job::noteVersion(const std::string& versionText) {
    journal::JobRecord* r = record();
    if (!r)
        return;
    const DeviceInfo info = parseVersionText(versionText.c_str());
    if (r->deviceType.empty())
        r->deviceType = cp1251::toUtf8(fieldText(info.deviceType));
    if (r->firmwareBefore.empty())
        r->firmwareBefore = cp1251::toUtf8(fieldText(info.firmwareVersion));
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
