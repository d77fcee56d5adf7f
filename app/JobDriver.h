#pragma once
// Runs a window's job: each exchange it asks for goes to the exchange thread,
// and its next step runs when that exchange's end comes back (a queued call on
// the user-interface thread). Upload blocks wait for the window's pacing timer
// first: one block per tick. One job at a time per driver.
#include "Job.h"

#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>
#include <optional>

class Dialogs;
class QTimer;
class QWidget;

class JobDriver : public QObject {
    Q_OBJECT
public:
    // tick: the timer that paces this driver's upload steps (may be null: no pacing).
    JobDriver(Dialogs& dialogs, QWidget* owner, QTimer* tick = nullptr);
    ~JobDriver() override;

    using Ended = std::function<void(jobs::Outcome)>;
    // Starts job (a running one is dropped first, see abandon()); ended runs
    // once when it has ended by itself.
    void start(std::shared_ptr<jobs::Job> job, Ended ended = {});
    // Takes over a job already started elsewhere, with the exchange it asked for
    // first. The running job is dropped, its running exchange left to finish.
    void adopt(std::shared_ptr<jobs::Job> job, std::optional<jobs::Exchange> first, Ended ended = {});
    bool running() const { return job_ != nullptr; }
    // The job, while it runs.
    jobs::Job* job() const { return job_.get(); }
    // Drops the job: no further step, box or exchange; its running exchange's
    // reply wait is cut short.
    void abandon() { drop(true); }
    // The pacing timer fell due: the waiting step runs.
    void tick();

private:
    // cutWait: the running exchange's reply wait is cut short too.
    void drop(bool cutWait);
    void advance(std::optional<jobs::Exchange> next);
    void submit(const jobs::Exchange& exchange);

    Dialogs& dialogs_;
    QPointer<QWidget> owner_;
    QTimer* tick_;
    std::shared_ptr<jobs::Job> job_;
    std::optional<jobs::Exchange> waiting_; // for the next tick
    Ended ended_;
    unsigned generation_ = 0;
};
