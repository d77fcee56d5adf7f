#include "ExchangeWorker.h"

#include "WaitNote.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QGuiApplication>
#include <QThread>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <stdexcept>

namespace {

// An operation that ends within this time never enters an event loop: uploads
// run one short exchange per timer tick, and a wake-up saved there is time saved.
constexpr auto kQuickWait = std::chrono::milliseconds(50);

bool userInput(QEvent::Type t) {
    switch (t) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
    case QEvent::TabletMove:
    case QEvent::ContextMenu:
        return true;
    default:
        return false;
    }
}

} // namespace

ExchangeWorker& exchangeWorker() {
    static ExchangeWorker worker;
    return worker;
}

ExchangeWorker::ExchangeWorker() { thread_ = std::thread([this] { workerLoop(); }); }

ExchangeWorker::~ExchangeWorker() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
        cancel_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void ExchangeWorker::workerLoop() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stop_ || (hasJob_ && !finished_); });
        if (stop_)
            return;
        std::function<int()> job = job_;
        lock.unlock();
        int result = -1;
        try {
            result = job();
        } catch (...) {
            result = -1; // the core reports by result codes; nothing should get here
        }
        lock.lock();
        result_ = result;
        finished_ = true;
        if (loop_)
            QMetaObject::invokeMethod(loop_, "quit", Qt::QueuedConnection);
        done_.notify_all();
    }
}

bool ExchangeWorker::finished() {
    std::lock_guard<std::mutex> lock(mutex_);
    return finished_;
}

int ExchangeWorker::run(QWidget* owner, const Wait& wait, const std::function<int()>& op) {
    if (busy_)
        throw std::logic_error("Обмен с устройством уже идёт");
    busy_ = true;
    cancel_ = false;
    abandoned_ = false;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        job_ = op;
        hasJob_ = true;
        finished_ = false;
        wake_.notify_one();
        done_.wait_for(lock, kQuickWait, [this] { return finished_; });
    }
    if (!finished())
        waitOnUi(owner, wait);
    int result;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        result = result_;
        hasJob_ = false;
        job_ = nullptr;
    }
    busy_ = false;
    // Ticks that fell due run after the handler that waited, never inside it.
    for (auto& f : after_)
        QTimer::singleShot(0, qApp, std::move(f));
    after_.clear();
    if (abandoned_)
        throw ExchangeAbandoned{};
    return result;
}

void ExchangeWorker::waitOnUi(QWidget* owner, const Wait& wait) {
    InputGate gate;
    WaitNote note(owner, wait.limitMs, wait.searching);
    note_ = &note;
    QObject::connect(&note, &WaitNote::cancelRequested, [this] { cancel(false); });
    QEventLoop loop;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        loop_ = &loop;
    }
    // An application quit also ends nested loops; the operation is not over then.
    while (!finished())
        loop.exec();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        loop_ = nullptr;
    }
    note_ = nullptr;
    note.finish();
    gate.release();
}

void ExchangeWorker::cancel(bool abandon) {
    if (abandon)
        abandoned_ = true;
    cancel_ = true;
}

void ExchangeWorker::afterCurrent(std::function<void()> f) {
    if (busy_)
        after_.push_back(std::move(f));
    else
        f();
}

void ExchangeWorker::searchingPort(const std::string& port) {
    const QString name = QString::fromStdString(port);
    QMetaObject::invokeMethod(qApp, [this, name] {
        if (note_)
            note_->setPort(name);
    }, Qt::QueuedConnection);
}

void ExchangeWorker::onUiThread(const std::function<void()>& f) {
    auto call = [this, &f] {
        if (note_)
            note_->stepAside();
        f();
        if (note_)
            note_->stepBack();
    };
    if (QThread::currentThread() == qApp->thread())
        call();
    else
        QMetaObject::invokeMethod(qApp, call, Qt::BlockingQueuedConnection);
}

// ---- input gate

ExchangeWorker::InputGate::InputGate() {
    for (QWindow* w : QGuiApplication::topLevelWindows())
        held_.emplace_back(w);
    qApp->installEventFilter(this);
}

ExchangeWorker::InputGate::~InputGate() {
    qApp->removeEventFilter(this);
    for (auto& [window, event] : queued_)
        delete event;
}

// Input from the window system reaches the window first; input sent straight
// to a widget (accessibility tools, tests) is caught at the widget.
bool ExchangeWorker::InputGate::eventFilter(QObject* watched, QEvent* event) {
    if (!userInput(event->type()))
        return false;
    QWindow* window = nullptr;
    if (watched->isWindowType())
        window = static_cast<QWindow*>(watched);
    else if (watched->isWidgetType())
        window = static_cast<QWidget*>(watched)->window()->windowHandle();
    if (!window)
        return false;
    for (const auto& h : held_) {
        if (h == window) {
            if (event->type() != QEvent::MouseMove) // a stale pointer path means nothing later
                queued_.emplace_back(watched, event->clone());
            return true;
        }
    }
    return false;
}

void ExchangeWorker::InputGate::release() {
    qApp->removeEventFilter(this);
    for (auto& [receiver, event] : queued_) {
        if (receiver)
            QCoreApplication::postEvent(receiver, event);
        else
            delete event;
    }
    queued_.clear();
}
