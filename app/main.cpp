// z58config: the Z58 service tool's desktop program.
#include "Dialogs.h"
#include "ParametrsEdit.h"
#include "Screenshots.h"
#include "WindowFont.h"
#include "SyncWorker.h"
#include "Z58main.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

// Errors that escape an event handler are shown and the program goes on.
class Application : public QApplication {
public:
    Application(int& argc, char** argv, Dialogs& dialogs) : QApplication(argc, argv), dialogs_(dialogs) {}
    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception& e) {
            dialogs_.error(activeWindow(), QString::fromUtf8(e.what()));
        } catch (...) {
            dialogs_.error(activeWindow(), QString());
        }
        return false;
    }

private:
    Dialogs& dialogs_;
};

} // namespace

int main(int argc, char** argv) {
    const QString screenshots = qEnvironmentVariable("Z58_SCREENSHOTS");
    std::unique_ptr<Dialogs> owned;
    if (screenshots.isEmpty())
        owned = std::make_unique<QtDialogs>();
    else
        owned = std::make_unique<ScreenshotDialogs>(screenshots);
    Dialogs& dialogs = *owned;
    Application app(argc, argv, dialogs);
    // No application display name: on X11 it would be appended to every
    // window title (" — Z58"), and the titles are the program's own texts.
    // Standard buttons and dialogs in Russian, as on a Russian Windows.
    QTranslator translator;
    if (translator.load("qtbase_ru", QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&translator);
    QApplication::setFont(windowFont());

    int code = 0;
    try {
        TMainForm form(dialogs);
        TParametersEditForm editor(dialogs, &form.runner(), &form);
        form.setEditor(&editor);
        if (!form.Parameters()->parseError().empty())
            dialogs.message(&form, QString::fromStdString(form.Parameters()->parseError()), "Ошибка", Buttons::Ok);
        form.show();
        if (!screenshots.isEmpty())
            static_cast<ScreenshotDialogs&>(dialogs).run(form, editor);
        code = app.exec();
    } catch (const std::exception& e) {
        dialogs.error(nullptr, QString::fromUtf8(e.what()));
    } catch (...) {
        dialogs.error(nullptr, QString());
    }
    // A journal pass still talking to a server that does not answer: the
    // program ends without its libraries' exit code running under it (the
    // records it did not send wait in the journal, on disk).
    if (journal::SyncWorker::leftRunning() > 0) {
        std::fflush(nullptr);
        std::_Exit(code);
    }
    return code;
}
