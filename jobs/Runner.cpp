#include "Runner.h"

#include "InlineExecutor.h"
#include "JobJournal.h"
#include "PortClaims.h"
#include "PortProblem.h"

namespace jobs {

Runner::Runner(std::unique_ptr<Executor> executor, PortClaims* claims)
    : claims_(claims), executor_(std::move(executor)) {}

Runner::Runner(PortClaims* claims) : Runner(std::make_unique<InlineExecutor>(), claims) {}

Runner::~Runner() {
    dropAll();
    executor_.reset();
    if (claims_)
        claims_->release(this);
}

void Runner::setDevice(DevicePtr device) {
    device_ = std::move(device);
    holdPort();
}

void Runner::holdPort() {
    if (!claims_)
        return;
    if (device_)
        claims_->hold(this, device_->PortName());
    else
        claims_->release(this);
}

Job* Runner::job(RunId id) const {
    const auto it = runs_.find(id);
    return it == runs_.end() ? nullptr : it->second->job.get();
}

Runner::RunId Runner::start(std::shared_ptr<Job> job, Ended ended, RunId takesOver) {
    if (!device_ || !job)
        return 0;
    auto run = std::make_shared<Run>();
    run->id = nextId_++;
    run->job = std::move(job);
    run->ended = std::move(ended);
    runs_.emplace(run->id, run);
    if (observer_)
        observer_->jobStarted(*run->job);
    JobContext context;
    context.device = device_;
    context.uploads = &uploads_;
    context.trace = &trace_;
    context.portInUse = [claims = claims_, self = this](const std::string& port) {
        return claims && claims->heldByOther(port, self);
    };
    // Written before the job's first exchange.
    if (journal_)
        context.recording = journal_->open(*run->job, device_->PortName(), series_);
    std::optional<Work> first = step(run, [&] { return run->job->start(std::move(context)); });
    if (first && running(takesOver) && takesOver != run->id)
        drop(takesOver, false);
    advance(run, std::move(first));
    return run->id;
}

std::optional<Work> Runner::step(const RunPtr& run, const std::function<std::optional<Work>()>& f) {
    std::optional<Work> next;
    bool returned = false;
    auto once = [&] {
        next = f();
        returned = true;
    };
    if (guard_)
        guard_(once);
    else
        once();
    if (!returned && !run->dropped)
        run->job->abort();
    return next;
}

void Runner::advance(const RunPtr& run, std::optional<Work> next) {
    for (;;) {
        // A step may have dropped this job (a box's answer closed the window).
        if (run->dropped)
            return;
        if (!next) {
            finish(run);
            return;
        }
        if (next->pace != Pace::Now && pacer_) {
            run->waitingTick = next->pace;
            pacer_->wait(next->pace, [this, run, work = std::move(*next)]() mutable {
                run->waitingTick.reset();
                if (run->dropped)
                    return;
                if (work.run)
                    submit(run, work);
                else
                    advance(run, step(run, [&] { return run->job->resume(WorkResult{}); }));
            });
            return;
        }
        if (next->run) {
            submit(run, *next);
            return;
        }
        next = step(run, [&] { return run->job->resume(WorkResult{}); });
    }
}

void Runner::submit(const RunPtr& run, const Work& work) {
    Executor::Item item;
    item.owner = run.get();
    item.host = &run->job->host();
    item.limitMs = work.limitMs;
    item.search = work.search;
    item.run = [device = run->job->device(), op = work.run, claims = claims_, self = this](const WorkControls& c) {
        device->SetCancelFlag(c.cancel);
        device->SetSearchObserver(c.searching);
        if (claims)
            device->SetPortsInUse([claims, self](const std::string& port) { return claims->heldByOther(port, self); });
        WorkResult result;
        result.code = op(*device);
        result.notices = device->TakePortNotices();
        // Asked here, on the work's own thread, before the next work may open
        // the port: asked later, this test open could make that one fail.
        if (result.code < 0)
            result.portWhy = portProblem(device->PortName());
        device->SetCancelFlag(nullptr);
        device->SetSearchObserver(nullptr);
        device->SetPortsInUse(nullptr);
        return result;
    };
    item.done = [this, run](WorkResult result) {
        if (run->dropped)
            return;
        // The search may have moved the device to the port it found.
        if (run->job->device() == device_)
            holdPort();
        advance(run, step(run, [&] { return run->job->resume(result); }));
    };
    executor_->submit(std::move(item));
}

void Runner::finish(const RunPtr& run) {
    runs_.erase(run->id);
    run->dropped = true;  // nothing more of it runs
    if (run->job->running())
        run->job->abort();
    if (journal_)
        journal_->close(*run->job);
    if (observer_)
        observer_->jobEnded(*run->job);
    if (Ended ended = std::move(run->ended)) {
        const Outcome outcome = run->job->outcome();
        if (guard_)
            guard_([&] { ended(outcome); });
        else
            ended(outcome);
    }
}

void Runner::drop(RunId id, bool cutWait) {
    const auto it = runs_.find(id);
    if (it == runs_.end())
        return;
    RunPtr run = it->second;
    runs_.erase(it);
    run->dropped = true;
    if (run->waitingTick && pacer_)
        pacer_->cancel(*run->waitingTick);
    executor_->abandon(run.get(), cutWait);
    run->job->interrupt();
    if (journal_)
        journal_->close(*run->job);
    if (observer_)
        observer_->jobEnded(*run->job);
}

void Runner::dropAll() {
    while (!runs_.empty())
        drop(runs_.begin()->first);
}

Outcome Runner::run(std::shared_ptr<Job> job) {
    const RunId id = start(job);
    while (running(id) && executor_->deliverNext()) {
    }
    // Nothing more can come (a tick no pacer will give): it cannot go on.
    drop(id);
    return job->outcome();
}

} // namespace jobs
