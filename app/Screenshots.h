#pragma once
// The demo without a display: drives the windows against the emulated controller
// and writes PNG pictures of them, then ends. Its dialogs never wait for a user.
#include "Dialogs.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

class QObject;
class QTemporaryDir;
class TMainForm;
class TParametersEditForm;

class ScreenshotDialogs : public Dialogs {
public:
    explicit ScreenshotDialogs(QString folder);
    ~ScreenshotDialogs() override;
    Answer message(QWidget* owner, const QString& text, const QString& caption, Buttons buttons) override;
    void error(QWidget* owner, const QString& text) override;
    QString openFile(QWidget*, const QString&, const QString&) override { return {}; }
    QString saveFile(QWidget*, const QString&, const QString&) override { return {}; }
    QString openFolder(QWidget*, const QString&) override { return {}; }
    // Shows the editor without blocking, selects a parameter and photographs it.
    void showModal(QDialog* window) override;
    // Nobody to ask: the round uses libpq's password file.
    bool password(QWidget*, const QString&, const QString&, QString&) override { return false; }

    // Starts the round; the program's event loop ends with 0 when every picture was written.
    void run(TMainForm& form, TParametersEditForm& editor);

private:
    void whenIdle(TMainForm& form, std::function<void()> f);
    // Runs f once ready() holds, checking every few ms with the event loop going on.
    void whenTrue(QObject* context, std::function<bool()> ready, std::function<void()> f);
    bool save(QWidget& w, const QString& name);
    void journal(TMainForm& form);
    // A series on COM8 to COM11 (the emulators the demo starts there), pictured
    // while one unit uploads and others have ended; then the round's end.
    void series(TMainForm& form);
    QString folder_;
    std::unique_ptr<QTemporaryDir> work_;     // the series' reference file and sheets
    std::optional<std::string> keptSeries_;  // the user's kept series set-up, put back at the end
    bool ok_ = true;
    bool editorShown_ = false;
    bool editorDone_ = false; // the editor's picture is taken
};
