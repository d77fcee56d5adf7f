#include "ExchangeThread.h"

#include "WaitNote.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QTimer>

ExchangeThread& exchangeThread() {
    static ExchangeThread thread;
    return thread;
}

ExchangeThread::ExchangeThread() : noteTimer_(new QTimer(this)) {
    noteTimer_->setSingleShot(true);
    noteTimer_->setInterval(WaitNote::kShowAfterMs / 2);
    connect(noteTimer_, &QTimer::timeout, this, [this] { showNote(); });
    thread_ = std::thread([this] { workerLoop(); });
}

void ExchangeThread::showNote() {
    if (!running_ || note_)
        return;
    note_ = new WaitNote(current_.owner, current_.limitMs, current_.search, since_);
    connect(note_, &WaitNote::cancelRequested, this, [this] { cancel_ = true; });
    if (!searchPort_.isEmpty())
        note_->setPort(searchPort_);
}

ExchangeThread::~ExchangeThread() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
        cancel_ = true;
    }
    wake_.notify_one();
    thread_.join();
    delete note_;
}

void ExchangeThread::workerLoop() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stop_ || hasJob_; });
        if (stop_)
            return;
        std::function<int()> job = std::move(job_);
        hasJob_ = false;
        lock.unlock();
        int result = -1;
        try {
            result = job();
        } catch (...) {
            result = -1; // the core reports by result codes; nothing should get here
        }
        job = nullptr; // what the exchange held goes before its end is told
        lock.lock();
        if (stop_)
            return;
        QMetaObject::invokeMethod(this, [this, result] { finished(result); }, Qt::QueuedConnection);
    }
}

void ExchangeThread::submit(Request request) {
    queue_.push_back(std::move(request));
    if (!running_)
        startNext();
}

bool ExchangeThread::busyFor(const QObject* context) const {
    if (running_ && !currentAbandoned_ && current_.context == context)
        return true;
    for (const Request& r : queue_)
        if (r.context == context)
            return true;
    return false;
}

void ExchangeThread::startNext() {
    while (!queue_.empty() && !queue_.front().context)
        queue_.pop_front();
    if (queue_.empty())
        return;
    current_ = std::move(queue_.front());
    queue_.pop_front();
    running_ = true;
    currentAbandoned_ = false;
    cancel_ = false;
    since_.start();
    searchPort_.clear();
    noteTimer_->start();
    std::shared_ptr<DeviceInterface> device = current_.device;
    std::function<int()> op = current_.op;
    const bool search = current_.search;
    std::lock_guard<std::mutex> lock(mutex_);
    // The device is touched by the exchange thread alone while the exchange runs.
    job_ = [this, device, op, search] {
        if (device) {
            device->SetCancelFlag(&cancel_);
            if (search)
                device->SetSearchObserver([this](const std::string& port) {
                    const QString name = QString::fromStdString(port);
                    QMetaObject::invokeMethod(this, [this, name] {
                        searchPort_ = name;
                        if (note_)
                            note_->setPort(name);
                    }, Qt::QueuedConnection);
                });
        }
        const int result = op();
        if (device) {
            device->SetCancelFlag(nullptr);
            device->SetSearchObserver(nullptr);
        }
        return result;
    };
    hasJob_ = true;
    wake_.notify_one();
}

void ExchangeThread::finished(int result) {
    noteTimer_->stop();
    delete note_;
    note_ = nullptr;
    Request ended = std::move(current_);
    current_ = Request{};
    const bool report = !currentAbandoned_ && ended.context && ended.done;
    running_ = false;
    // The next exchange starts before this one's end is handled: a box raised
    // there must not hold up an upload's blocks, as the controller expects them.
    startNext();
    if (report)
        ended.done(result);
}

void ExchangeThread::abandon(const QObject* context, bool cutWait) {
    for (auto it = queue_.begin(); it != queue_.end();)
        it = it->context == context ? queue_.erase(it) : it + 1;
    if (running_ && current_.context == context) {
        currentAbandoned_ = true;
        if (cutWait)
            cancel_ = true;
    }
}

void ExchangeThread::abandonAll() {
    queue_.clear();
    if (running_) {
        currentAbandoned_ = true;
        cancel_ = true;
    }
}
