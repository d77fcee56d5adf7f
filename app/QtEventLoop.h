#pragma once
// The desktop program's loop for runners that are not the main window's (a
// series' units): a call posted from any thread is a queued call into Qt's
// event loop, a timer a single-shot one. Calls still queued when this object
// goes are dropped with it.
#include "EventLoop.h"

#include <QObject>

class QtEventLoop final : public QObject, public jobs::EventLoop {
    Q_OBJECT
public:
    explicit QtEventLoop(QObject* parent = nullptr) : QObject(parent) {}

    void post(std::function<void()> call) override;
    void after(std::uint32_t ms, std::function<void()> call) override;
};
