#include "QtEventLoop.h"

#include <QMetaObject>
#include <QTimer>

void QtEventLoop::post(std::function<void()> call) {
    QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
}

void QtEventLoop::after(std::uint32_t ms, std::function<void()> call) {
    QTimer::singleShot(static_cast<int>(ms), Qt::PreciseTimer, this, std::move(call));
}
