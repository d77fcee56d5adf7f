#pragma once
// The window's pacing of upload steps: a firmware step waits for Timer1's next
// tick (1 ms), a sound step for Timer2's (10 ms). A timer runs only while a step
// waits for it: an idle 1 ms tick would only wake the program a thousand times
// a second.
#include "Runner.h"

#include <functional>
#include <memory>

class QTimer;

// The ticks' periods, the main window's Timer1 and Timer2.
constexpr int kFirmwareTickMs = 1;
constexpr int kSoundTickMs = 10;

class TimerPacer final : public jobs::Pacer {
public:
    TimerPacer(QTimer* firmware, QTimer* sound) : firmware_(firmware), sound_(sound) {}

    void wait(jobs::Pace pace, std::function<void()> due) override;
    void cancel(jobs::Pace pace) override;
    // The timer of pace fell due: the waiting step runs.
    void fire(jobs::Pace pace);

private:
    QTimer* timer(jobs::Pace pace) const;
    std::function<void()>& due(jobs::Pace pace) { return pace == jobs::Pace::SoundTick ? soundDue_ : firmwareDue_; }

    QTimer* firmware_;
    QTimer* sound_;
    std::function<void()> firmwareDue_, soundDue_;
};

// The same pacing with timers of its own, for a runner of its own (each unit
// of a series): one runner's ticks never wait for another's.
class RunnerPacer final : public jobs::Pacer {
public:
    RunnerPacer();
    ~RunnerPacer() override;

    void wait(jobs::Pace pace, std::function<void()> due) override { pacer_->wait(pace, std::move(due)); }
    void cancel(jobs::Pace pace) override { pacer_->cancel(pace); }

private:
    std::unique_ptr<QTimer> firmware_, sound_;
    std::unique_ptr<TimerPacer> pacer_;
};
