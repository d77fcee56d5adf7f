#pragma once
// A runner's exchange thread in the desktop program: its work runs on a
// thread of its own (jobs::ThreadExecutor) one piece at a time, and each end
// comes back as a queued call on the user-interface thread, where the job's
// next step runs, so questions and boxes are always raised there. Nothing
// waits in a local event loop: while work runs, the windows paint and take
// input, and work asked for meanwhile (a click between two upload blocks) runs
// next. A wait that lasts shows the waiting line over the window of the job's
// host, and for the port search a box with Cancel.
#include "ThreadExecutor.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <memory>

class QTimer;
class WaitNote;

class ExchangeThread : public QObject, public jobs::ExecutorWatch {
    Q_OBJECT
public:
    explicit ExchangeThread(QObject* parent = nullptr);
    ~ExchangeThread() override;

    // The executor for one runner; this object outlives it (the runner goes first).
    std::unique_ptr<jobs::Executor> makeExecutor();

    void workStarted(const jobs::JobHost* host, std::uint32_t limitMs, bool search) override;
    void searching(const std::string& port) override;
    void workEnded() override;

private:
    void showNote();

    jobs::ThreadExecutor* executor_ = nullptr;
    // Made only for a wait that lasts: most exchanges (upload blocks) end long
    // before anything would be shown, and each saved timer is time saved.
    WaitNote* note_ = nullptr;
    QTimer* noteTimer_;
    QElapsedTimer since_;
    QPointer<QWidget> owner_;
    int limitMs_ = 0;
    bool search_ = false, running_ = false;
    QString searchPort_;  // the port the search asks now, for a note made later
};
