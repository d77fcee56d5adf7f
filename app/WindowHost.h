#pragma once
// The jobs' host in a window: questions and notices as the window's message
// boxes (through the dialogs seam), log lines into the main window's log,
// progress on its bar. Runs on the user-interface thread only.
#include "JobHost.h"

#include <QPointer>
#include <QProgressBar>
#include <QString>
#include <QWidget>
#include <functional>

class Dialogs;

class WindowHost : public jobs::JobHost {
public:
    WindowHost(Dialogs& dialogs, QWidget* owner, std::function<void(const QString&)> log, QProgressBar* bar = nullptr,
               std::function<void()> changed = {});

    bool ask(const jobs::Question& question) override;
    void tell(const jobs::Notice& notice) override;
    void log(const std::string& line) override;
    void detail(const std::string&) override {}
    void failed(const jobs::Failure& failure) override;
    void progress(const jobs::Progress& progress) override;
    void changed() override;
    bool choose(jobs::ChangeList& list) override { return chooser_ ? chooser_(list) : true; }

    QWidget* owner() const { return owner_; }
    void setLog(std::function<void(const QString&)> log) { log_ = std::move(log); }
    void setBar(QProgressBar* bar) { bar_ = bar; }
    // Shows a write's change list; without one the rows are written as they come.
    void setChooser(std::function<bool(jobs::ChangeList&)> chooser) { chooser_ = std::move(chooser); }

private:
    Dialogs& dialogs_;
    QPointer<QWidget> owner_;
    std::function<void(const QString&)> log_;
    QPointer<QProgressBar> bar_;
    std::function<void()> changed_;
    std::function<bool(jobs::ChangeList&)> chooser_;
};
