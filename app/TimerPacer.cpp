#include "TimerPacer.h"

#include <QTimer>
#include <utility>

QTimer* TimerPacer::timer(jobs::Pace pace) const { return pace == jobs::Pace::SoundTick ? sound_ : firmware_; }

void TimerPacer::wait(jobs::Pace pace, std::function<void()> step) {
    due(pace) = std::move(step);
    timer(pace)->start();
}

void TimerPacer::cancel(jobs::Pace pace) {
    timer(pace)->stop();
    due(pace) = nullptr;
}

void TimerPacer::fire(jobs::Pace pace) {
    // The timer starts again only when the next step asks for it.
    timer(pace)->stop();
    if (std::function<void()> step = std::exchange(due(pace), nullptr))
        step();
}
