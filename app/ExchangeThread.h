#pragma once
// The one thread that talks to the controller. Exchanges run there one after
// another, in the order they were asked for, so they never overlap (the
// protocol and the device's reply buffer assume that) and never nest.
//
// What runs where:
// - user-interface thread: submit(), the queue, the waiting line and the
//   search box (WaitNote), and every done callback; a job's next step runs
//   from its done callback, so questions and boxes are always raised here;
// - exchange thread: the exchange itself (one device operation), nothing else.
// The end of an exchange comes back as a queued call. Nothing waits in a local
// event loop: while an exchange runs, the windows paint and take input, and an
// exchange asked for meanwhile (a click between two upload blocks) runs next.
#include "DeviceInterface.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class QTimer;
class WaitNote;

class ExchangeThread : public QObject {
    Q_OBJECT
public:
    struct Request {
        QPointer<QObject> context;  // done is dropped when it is gone or abandoned
        QPointer<QWidget> owner;    // the window that shows the wait
        int limitMs = 0;            // shown as "N с из M"
        bool search = false;        // the port search: a box with Cancel
        std::shared_ptr<DeviceInterface> device;  // told the cancel flag (and the search observer)
        std::function<int()> op;                  // on the exchange thread
        std::function<void(int)> done;            // on the user-interface thread
        std::shared_ptr<void> keep;               // alive until the exchange ended
    };

    ExchangeThread();
    ~ExchangeThread() override;

    void submit(Request request);
    // An exchange runs or waits for its turn.
    bool busy() const { return running_ || !queue_.empty(); }
    bool busyFor(const QObject* context) const;
    // Drops what context still waits for; its running exchange's end is not
    // reported, and with cutWait its reply wait is cut short (a frame being
    // sent is finished).
    void abandon(const QObject* context, bool cutWait = true);
    // The same for everything (the program ends).
    void abandonAll();

private:
    void startNext();
    void finished(int result);
    void showNote();
    void workerLoop();

    // User-interface thread only.
    std::deque<Request> queue_;
    Request current_;
    bool running_ = false, currentAbandoned_ = false;
    // Made only for a wait that lasts: most exchanges (upload blocks) end long
    // before anything would be shown, and each saved timer is time saved.
    WaitNote* note_ = nullptr;
    QTimer* noteTimer_;
    QElapsedTimer since_;
    QString searchPort_; // the port the search asks now, for a note made later

    // Shared with the exchange thread.
    std::mutex mutex_;
    std::condition_variable wake_;
    std::function<int()> job_;
    bool hasJob_ = false, stop_ = false;
    std::atomic<bool> cancel_{false};
    std::thread thread_; // last: it starts with everything above in place
};

// The program's one exchange thread.
ExchangeThread& exchangeThread();
