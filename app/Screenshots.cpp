#include "Screenshots.h"

#include "JobRecord.h"
#include "JournalModel.h"
#include "JournalWindow.h"
#include "FileReplace.h"
#include "ParametrsEdit.h"
#include "SeriesModel.h"
#include "SeriesSetting.h"
#include "SeriesWindow.h"
#include "Z58main.h"

#include <QApplication>
#include <QDir>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPixmap>
#include <QSpinBox>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {
// Long enough for a shown window's layout and first paint to have happened.
constexpr int kSettleMs = 150;
// How long the series may take to show what its picture is for.
constexpr int kSeriesPictureMs = 30000;
const char kSeriesReference[] = "PinCod=1111\r\nBalans=*100#\r\nMicLevel=7\r\nAutoStart=2\r\nOut1=3\r\n";
} // namespace

ScreenshotDialogs::ScreenshotDialogs(QString folder) : folder_(std::move(folder)) {}

ScreenshotDialogs::~ScreenshotDialogs() = default;

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

// The journal window with its newest record selected, then the series.
void ScreenshotDialogs::journal(TMainForm& form) {
    form.showJournal();
    JournalWindow* window = form.journalWindow();
    // With a workshop server set, its records (or why not) first.
    whenTrue(window, [window] { return !window->waiting(); }, [this, &form, window] {
        QTimer::singleShot(kSettleMs, window, [this, &form, window] {
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
            whenTrue(window, [window] { return !window->waiting(); }, [this, &form, window] {
                QTimer::singleShot(kSettleMs, window, [this, &form, window] {
                    save(*window, "journal.png");
                    window->close();
                    series(form);
                });
            });
        });
    });
}

void ScreenshotDialogs::series(TMainForm& form) {
    // The series keeps its set-up for the next run: the user's own comes back at the end.
    const std::string kept = seriesChoicesPath();
    if (std::ifstream in(std::filesystem::u8path(kept), std::ios::binary); in)
        keptSeries_ = std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    work_ = std::make_unique<QTemporaryDir>();
    const std::string reference = (std::filesystem::u8path(work_->path().toStdString()) / "reference.txt").u8string();
    std::ofstream(std::filesystem::u8path(reference), std::ios::binary) << kSeriesReference;
    form.showSeries();
    SeriesWindow* w = form.seriesWindow();
    w->ReferenceEdit->setText(QString::fromStdString(reference));
    w->SheetsEdit->setText(work_->path() + "/sheets");
    w->CsvEdit->clear();
    w->PortsEdit->setText("COM8-COM11");
    w->ExpectedSpin->setValue(0);
    w->FirmwareBox->setCurrentIndex(0);
    w->StartClick();
    auto since = std::make_shared<QElapsedTimer>();
    since->start();
    // Several units, one of them uploading part way, three ended.
    const auto shows = [w, since] {
        int ended = 0;
        bool bar = false;
        for (int r = 0; r < w->Model->rowCount(); ++r) {
            const jobs::UnitRow* row = w->Model->row(r);
            ended += row->outcome != jobs::UnitOutcome::Running;
            bar = bar || (row->progressMaximum > 0 && row->progress * 3 >= row->progressMaximum);
        }
        return (bar && ended >= 3) || !w->running() || since->elapsed() > kSeriesPictureMs;
    };
    whenTrue(w, shows, [this, w, kept] {
        save(*w, "series.png");
        w->close(); // asks (answered OK here): the series is dropped
        try {
            if (keptSeries_)
                replaceFileContent(kept, *keptSeries_);
            else
                std::filesystem::remove(std::filesystem::u8path(kept));
        } catch (const std::exception& e) {
            std::printf("[error] %s\n", e.what());
            ok_ = false;
        }
        QApplication::exit(ok_ && editorShown_ ? 0 : 1);
    });
}
