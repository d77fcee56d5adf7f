#include "Screenshots.h"

#include "JobRecord.h"
#include "JournalModel.h"
#include "JournalWindow.h"
#include "ParametrsEdit.h"
#include "Z58main.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QTableView>
#include <QTimer>
#include <QTreeView>
#include <cstdio>

namespace {
// Long enough for a shown window's layout and first paint to have happened.
constexpr int kSettleMs = 150;
} // namespace

Answer ScreenshotDialogs::message(QWidget*, const QString& text, const QString& caption, Buttons buttons) {
    std::printf("[%s] %s\n", caption.toUtf8().constData(), text.toUtf8().constData());
    return buttons == Buttons::YesNo ? Answer::Yes : Answer::Ok;
}

void ScreenshotDialogs::error(QWidget*, const QString& text) {
    std::printf("[error] %s\n", text.toUtf8().constData());
    ok_ = false;
}

bool ScreenshotDialogs::save(QWidget& w, const QString& name) {
    const QString file = folder_ + "/" + name;
    const bool ok = w.grab().save(file, "PNG");
    std::printf("%s %s\n", ok ? "wrote" : "could not write", file.toLocal8Bit().constData());
    ok_ = ok_ && ok;
    return ok;
}

// The editor is shown and left to lay itself out; a parameter with a value
// list is selected, and once that is drawn the picture is taken.
void ScreenshotDialogs::showModal(QDialog* window) {
    auto* editor = static_cast<TParametersEditForm*>(window);
    editorShown_ = true;
    editorDone_ = false;
    editor->show();
    QTimer::singleShot(kSettleMs, editor, [this, editor] {
        if (const QModelIndex autoStart = editor->nodeOfKey("AutoStart"); autoStart.isValid())
            editor->Tree->setCurrentIndex(autoStart);
        QTimer::singleShot(kSettleMs, editor, [this, editor] {
            save(*editor, "editor.png");
            editor->Modified = false;
            editor->close();
            editorDone_ = true;
        });
    });
}

// Runs f once the window's exchanges have ended; the event loop goes on meanwhile.
void ScreenshotDialogs::whenIdle(TMainForm& form, std::function<void()> f) {
    if (!form.busy()) {
        f();
        return;
    }
    QTimer::singleShot(20, &form, [this, &form, f = std::move(f)]() mutable { whenIdle(form, std::move(f)); });
}

void ScreenshotDialogs::whenTrue(QObject* context, std::function<bool()> ready, std::function<void()> f) {
    if (ready()) {
        f();
        return;
    }
    QTimer::singleShot(20, context, [this, context, ready = std::move(ready), f = std::move(f)]() mutable {
        whenTrue(context, std::move(ready), std::move(f));
    });
}

void ScreenshotDialogs::run(TMainForm& form, TParametersEditForm&) {
    QDir().mkpath(folder_);
    QTimer::singleShot(kSettleMs, &form, [this, &form] {
        save(form, "main.png");
        form.GetVersionButtonClick();
        form.GetSerialButtonClick();
        whenIdle(form, [this, &form] {
            QTimer::singleShot(kSettleMs, &form, [this, &form] {
                save(form, "main-after-version.png");
                editorShown_ = false;
                form.ReadButtonClick();
                // Goes on also when the read failed and no editor came (its box said why).
                whenTrue(&form, [this, &form] { return !form.busy() && (editorDone_ || !editorShown_); },
                         [this, &form] { journal(form); });
            });
        });
    });
}

// The journal window with its newest record selected, then the end of the round.
void ScreenshotDialogs::journal(TMainForm& form) {
    form.showJournal();
    JournalWindow* window = form.journalWindow();
    // With a workshop server set, its records (or why not) first.
    whenTrue(window, [window] { return !window->waiting(); }, [this, window] {
        QTimer::singleShot(kSettleMs, window, [this, window] {
            // From a workshop server: another PC's backup, the one thing only it can show.
            int row = window->Model->rowCount() > 0 ? 0 : -1;
            const std::string here = journal::Workplace::here("z58config").pc;
            for (int r = 0; window->Model->fromServer() && r < window->Model->rowCount(); ++r)
                if (const journal::JobRecord* listed = window->Model->record(r);
                    listed->pc != here && !listed->backupFile.empty()) {
                    row = r;
                    break;
                }
            if (row >= 0)
                window->Table->selectRow(row);
            whenTrue(window, [window] { return !window->waiting(); }, [this, window] {
                QTimer::singleShot(kSettleMs, window, [this, window] {
                    save(*window, "journal.png");
                    window->close();
                    QApplication::exit(ok_ && editorShown_ ? 0 : 1);
                });
            });
        });
    });
}
