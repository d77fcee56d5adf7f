#pragma once
// Every message box, file dialog and password question of the windows goes
// through this seam, so tests answer them and record what was asked. No
// handler calls QMessageBox, QFileDialog or QInputDialog directly.
#include <QString>

class QDialog;
class QWidget;

// YesNoDefaultNo: Yes/No with No the default button (a Yes that can do harm).
enum class Buttons { Ok, OkCancel, YesNo, YesNoDefaultNo };
enum class Answer { Ok, Cancel, Yes, No };

class Dialogs {
public:
    virtual ~Dialogs() = default;
    // Modal message box without an icon.
    virtual Answer message(QWidget* owner, const QString& text, const QString& caption, Buttons buttons) = 0;
    // The toolkit's standard error box for an error that escaped a handler.
    virtual void error(QWidget* owner, const QString& text) = 0;
    // File dialogs with a filter written "description | *.ext" and a default
    // suffix; an empty result means the user cancelled.
    virtual QString openFile(QWidget* owner, const QString& filter, const QString& defaultSuffix) = 0;
    virtual QString saveFile(QWidget* owner, const QString& filter, const QString& defaultSuffix) = 0;
    // An existing folder (start: the one shown first, may be empty); empty when cancelled.
    virtual QString openFolder(QWidget* owner, const QString& start) = 0;
    // Shows a secondary window modally until it closes.
    virtual void showModal(QDialog* window) = 0;
    // Asks for a password, typed unseen; false when the user cancelled.
    virtual bool password(QWidget* owner, const QString& text, const QString& caption, QString& typed) = 0;
};

// The real thing: QMessageBox without icon, QFileDialog, QDialog::exec.
class QtDialogs : public Dialogs {
public:
    Answer message(QWidget* owner, const QString& text, const QString& caption, Buttons buttons) override;
    void error(QWidget* owner, const QString& text) override;
    QString openFile(QWidget* owner, const QString& filter, const QString& defaultSuffix) override;
    QString saveFile(QWidget* owner, const QString& filter, const QString& defaultSuffix) override;
    QString openFolder(QWidget* owner, const QString& start) override;
    void showModal(QDialog* window) override;
    bool password(QWidget* owner, const QString& text, const QString& caption, QString& typed) override;
};

// The file filter of both settings dialogs.
extern const char* const kSettingsFileFilter;
// Caption of the standard error box.
extern const char* const kErrorBoxCaption;

class QMessageBox;
// The width a box needs for its whole caption to show in the title bar.
int captionWidth(const QString& caption);
void fitCaption(QMessageBox& box, const QString& caption);

// Runs an event handler; an error that escapes it is shown in the standard error
// box and the program goes on.
template <class F>
void runHandler(Dialogs& dialogs, QWidget* owner, F&& handler);

// Runs a window's close query like an event handler: the window closes unless
// the query answers false (an error that escapes it is shown, and it closes).
template <class Query>
bool runCloseQuery(Dialogs& dialogs, QWidget* owner, Query&& query) {
    bool close = true;
    runHandler(dialogs, owner, [&] { close = query(); });
    return close;
}

#include <exception>
template <class F>
void runHandler(Dialogs& dialogs, QWidget* owner, F&& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        dialogs.error(owner, QString::fromUtf8(e.what()));
    } catch (...) {
        dialogs.error(owner, QString());
    }
}
