#pragma once
// The window's pacing of upload steps: a firmware step waits for Timer1's next
// tick (1 ms), a sound step for Timer2's (10 ms). A timer runs only while a step
// waits for it: an idle 1 ms tick would only wake the program a thousand times
// a second.
#include "Runner.h"

#include <functional>

class QTimer;

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
