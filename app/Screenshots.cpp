#include "Screenshots.h"

#include "ParametrsEdit.h"
#include "Z58main.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QTimer>
#include <QTreeView>
#include <cstdio>

namespace {
void settle() {
    for (int i = 0; i < 20; ++i)
        QApplication::processEvents();
}
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
    settle();
    const QString file = folder_ + "/" + name;
    const bool ok = w.grab().save(file, "PNG");
    std::printf("%s %s\n", ok ? "wrote" : "could not write", file.toLocal8Bit().constData());
    ok_ = ok_ && ok;
    return ok;
}

void ScreenshotDialogs::showModal(QDialog* window) {
    auto* editor = static_cast<TParametersEditForm*>(window);
    editor->show();
    settle();
    if (const QModelIndex autoStart = editor->nodeOfKey("AutoStart"); autoStart.isValid()) { // an enum with its list
        editor->Tree->setCurrentIndex(autoStart);
        settle();
    }
    save(*editor, "editor.png");
    editor->Modified = false;
    editor->close();
}

// Runs f once the window's exchanges have ended; the event loop goes on meanwhile.
void ScreenshotDialogs::whenIdle(TMainForm& form, std::function<void()> f) {
    if (!form.busy()) {
        f();
        return;
    }
    QTimer::singleShot(20, &form, [this, &form, f = std::move(f)]() mutable { whenIdle(form, std::move(f)); });
}

void ScreenshotDialogs::run(TMainForm& form, TParametersEditForm&) {
    QDir().mkpath(folder_);
    save(form, "main.png");
    form.GetVersionButtonClick();
    form.GetSerialButtonClick();
    whenIdle(form, [this, &form] {
        save(form, "main-after-version.png");
        form.ReadButtonClick();
        whenIdle(form, [this] { QApplication::exit(ok_ ? 0 : 1); });
    });
}
