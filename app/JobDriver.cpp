#include "JobDriver.h"

#include "Dialogs.h"
#include "ExchangeThread.h"

#include <QTimer>
#include <QWidget>

JobDriver::JobDriver(Dialogs& dialogs, QWidget* owner, QTimer* tick)
    : QObject(owner), dialogs_(dialogs), owner_(owner), tick_(tick) {}

JobDriver::~JobDriver() { exchangeThread().abandon(this); }

void JobDriver::adopt(std::shared_ptr<jobs::Job> job, std::optional<jobs::Exchange> first, Ended ended) {
    drop(false);
    job_ = std::move(job);
    ended_ = std::move(ended);
    ++generation_;
    advance(std::move(first));
}

void JobDriver::start(std::shared_ptr<jobs::Job> job, Ended ended) {
    drop(true);
    job_ = std::move(job);
    ended_ = std::move(ended);
    const unsigned generation = ++generation_;
    std::optional<jobs::Exchange> first;
    runHandler(dialogs_, owner_, [&] { first = job_->start(); });
    if (generation == generation_)
        advance(std::move(first));
}

void JobDriver::drop(bool cutWait) {
    ++generation_;
    if (tick_)
        tick_->stop();
    waiting_.reset();
    exchangeThread().abandon(this, cutWait);
    job_.reset();
    ended_ = nullptr;
}

void JobDriver::advance(std::optional<jobs::Exchange> next) {
    if (!job_)
        return;
    if (!next) {
        // The job has ended: whoever started it hears how.
        const jobs::Outcome outcome = job_->outcome();
        Ended ended = std::move(ended_);
        std::shared_ptr<jobs::Job> finished = std::move(job_);
        if (ended)
            runHandler(dialogs_, owner_, [&] { ended(outcome); });
        return;
    }
    if (next->pace != jobs::Pace::Now && tick_) {
        waiting_ = std::move(next);
        tick_->start();
        return;
    }
    if (!next->run) {
        advance(job_->resume(0));
        return;
    }
    submit(*next);
}

void JobDriver::tick() {
    if (tick_)
        tick_->stop();
    if (!waiting_ || !job_)
        return;
    jobs::Exchange next = std::move(*waiting_);
    waiting_.reset();
    if (!next.run) {
        const unsigned generation = generation_;
        std::optional<jobs::Exchange> after;
        runHandler(dialogs_, owner_, [&] { after = job_->resume(0); });
        if (generation == generation_)
            advance(std::move(after));
        return;
    }
    submit(next);
}

void JobDriver::submit(const jobs::Exchange& exchange) {
    ExchangeThread::Request r;
    r.context = this;
    r.owner = owner_;
    r.limitMs = static_cast<int>(exchange.limitMs);
    r.search = exchange.search;
    r.device = job_->device();
    r.op = exchange.run;
    r.keep = job_;
    const unsigned generation = generation_;
    r.done = [this, generation](int result) {
        if (generation != generation_ || !job_)
            return;
        std::optional<jobs::Exchange> next;
        runHandler(dialogs_, owner_, [&] { next = job_->resume(result); });
        // A step may have dropped or replaced the job (a box's answer closed the window).
        if (generation == generation_)
            advance(std::move(next));
    };
    exchangeThread().submit(std::move(r));
}
