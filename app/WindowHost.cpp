#include "WindowHost.h"

#include "Dialogs.h"

namespace {
QString text(const std::string& utf8) { return QString::fromUtf8(utf8.c_str()); }
} // namespace

WindowHost::WindowHost(Dialogs& dialogs, QWidget* owner, std::function<void(const QString&)> log, QProgressBar* bar,
                       std::function<void()> changed)
    : dialogs_(dialogs), owner_(owner), log_(std::move(log)), bar_(bar), changed_(std::move(changed)) {}

bool WindowHost::ask(const jobs::Question& q) {
    Buttons buttons = Buttons::Ok;
    switch (q.buttons) {
    case jobs::Buttons::Ok: buttons = Buttons::Ok; break;
    case jobs::Buttons::OkCancel: buttons = Buttons::OkCancel; break;
    case jobs::Buttons::YesNo: buttons = Buttons::YesNo; break;
    case jobs::Buttons::YesNoDefaultNo: buttons = Buttons::YesNoDefaultNo; break;
    }
    const Answer a = dialogs_.message(owner_, text(q.text), text(q.caption), buttons);
    return a == Answer::Ok || a == Answer::Yes;
}

void WindowHost::tell(const jobs::Notice& n) { dialogs_.message(owner_, text(n.text), text(n.caption), Buttons::Ok); }

void WindowHost::log(const std::string& line) {
    if (log_)
        log_(text(line));
}

void WindowHost::failed(const jobs::Failure& f) {
    // The box says only "not connected or busy"; where the OS tells why the
    // port cannot be used, the log says it too.
    if (f.logWhy && !f.why.empty())
        log(f.why);
    if (!f.text.empty())
        dialogs_.message(owner_, text(f.text), text(f.caption), Buttons::Ok);
    if (!f.log.empty())
        log(f.log);
}

void WindowHost::progress(const jobs::Progress& p) {
    if (!bar_)
        return;
    if (p.maximum >= 0)
        bar_->setRange(0, p.maximum);
    // A value past the maximum leaves the bar where it is, as the toolkit does.
    bar_->setValue(p.value);
}

void WindowHost::changed() {
    if (changed_)
        changed_();
}
