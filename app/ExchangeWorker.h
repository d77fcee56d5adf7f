#pragma once
// Runs the windows' device operations, one at a time, on a thread of their own,
// so the windows keep painting while the controller is waited for. The caller
// still waits for its operation as if it blocked: user input to the program's
// windows is held back until the operation ends (nothing can start a second
// exchange inside a first), timer ticks that fall due meanwhile run after it,
// and after about 300 ms the window shows what it waits for and how long.
// The core stays single-threaded: only this thread touches the device.
#include "ExchangeAbandoned.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class QEvent;
class QEventLoop;
class QWidget;
class QWindow;
class WaitNote;


class ExchangeWorker {
public:
    struct Wait {
        int limitMs;             // the operation's time limit, shown as "N с из M"
        bool searching = false;  // the port search: a progress box with Cancel
    };

    ExchangeWorker();
    ~ExchangeWorker();
    ExchangeWorker(const ExchangeWorker&) = delete;
    ExchangeWorker& operator=(const ExchangeWorker&) = delete;

    // Runs op on the worker thread; owner is the window that waits (it shows the note).
    int run(QWidget* owner, const Wait& wait, const std::function<int()>& op);

    bool busy() const { return busy_; }
    // Set while an operation may be cancelled; the device reads it.
    const std::atomic<bool>* cancelFlag() const { return &cancel_; }
    // Ends the current wait early; with abandon, run() then throws ExchangeAbandoned.
    // From the user-interface thread only.
    void cancel(bool abandon);
    // Runs f once the current operation has ended (at once when idle).
    void afterCurrent(std::function<void()> f);
    // From the worker thread: the port the search is asking now.
    void searchingPort(const std::string& port);
    // Runs f on the user-interface thread and waits for it (message boxes raised
    // inside an operation). The search's progress box steps aside first.
    void onUiThread(const std::function<void()>& f);

private:
    // Holds back mouse and keyboard input to the windows that were open when
    // the wait began and delivers it, in order, when the operation has ended.
    // Windows opened during the wait (a message box, the search's progress box)
    // get their input; closing a window is not held back, so it can ask.
    class InputGate : public QObject {
    public:
        InputGate();
        ~InputGate() override;
        bool eventFilter(QObject* watched, QEvent* event) override;
        void release();

    private:
        std::vector<QPointer<QWindow>> held_;
        std::vector<std::pair<QPointer<QObject>, QEvent*>> queued_;
    };

    void workerLoop();
    void waitOnUi(QWidget* owner, const Wait& wait);
    bool finished();

    std::mutex mutex_;
    std::condition_variable wake_, done_;
    std::function<int()> job_;
    bool hasJob_ = false, finished_ = false, stop_ = false;
    int result_ = 0;
    std::atomic<bool> busy_{false}, cancel_{false}, abandoned_{false};
    std::vector<std::function<void()>> after_;
    QEventLoop* loop_ = nullptr; // the user-interface wait, while there is one
    WaitNote* note_ = nullptr;
    std::thread thread_; // last: it starts with everything above in place
};

// The program's one worker.
ExchangeWorker& exchangeWorker();

class DeviceInterface;
// Lets the worker cut the device's reply wait short (closing a window during it).
void letCancel(DeviceInterface* device);
