#include "ExchangeThread.h"

#include "WaitNote.h"
#include "WindowHost.h"

#include <QMetaObject>
#include <QTimer>

ExchangeThread::ExchangeThread(QObject* parent) : QObject(parent), noteTimer_(new QTimer(this)) {
    noteTimer_->setSingleShot(true);
    noteTimer_->setInterval(WaitNote::kShowAfterMs / 2);
    connect(noteTimer_, &QTimer::timeout, this, [this] { showNote(); });
}

ExchangeThread::~ExchangeThread() { delete note_; }

std::unique_ptr<jobs::Executor> ExchangeThread::makeExecutor() {
    auto executor = std::make_unique<jobs::ThreadExecutor>(
        [this](std::function<void()> call) { QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection); },
        this);
    executor_ = executor.get();
    return executor;
}

void ExchangeThread::workStarted(const jobs::JobHost* host, std::uint32_t limitMs, bool search) {
    const auto* window = dynamic_cast<const WindowHost*>(host);
    owner_ = window ? window->owner() : nullptr;
    limitMs_ = static_cast<int>(limitMs);
    search_ = search;
    running_ = true;
    since_.start();
    searchPort_.clear();
    noteTimer_->start();
}

void ExchangeThread::searching(const std::string& port) {
    searchPort_ = QString::fromStdString(port);
    if (note_)
        note_->setPort(searchPort_);
}

void ExchangeThread::workEnded() {
    running_ = false;
    noteTimer_->stop();
    delete note_;
    note_ = nullptr;
}

void ExchangeThread::showNote() {
    if (!running_ || note_)
        return;
    note_ = new WaitNote(owner_, limitMs_, search_, since_);
    connect(note_, &WaitNote::cancelRequested, this, [this] {
        if (executor_)
            executor_->cancelRunning();
    });
    if (!searchPort_.isEmpty())
        note_->setPort(searchPort_);
}
