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

RunnerPacer::RunnerPacer() : firmware_(std::make_unique<QTimer>()), sound_(std::make_unique<QTimer>()) {
    for (QTimer* t : {firmware_.get(), sound_.get()})
        t->setTimerType(Qt::PreciseTimer);
    firmware_->setInterval(kFirmwareTickMs);
    sound_->setInterval(kSoundTickMs);
    pacer_ = std::make_unique<TimerPacer>(firmware_.get(), sound_.get());
    QObject::connect(firmware_.get(), &QTimer::timeout, [p = pacer_.get()] { p->fire(jobs::Pace::FirmwareTick); });
    QObject::connect(sound_.get(), &QTimer::timeout, [p = pacer_.get()] { p->fire(jobs::Pace::SoundTick); });
}

RunnerPacer::~RunnerPacer() = default;
