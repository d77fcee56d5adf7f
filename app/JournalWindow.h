#pragma once
// The service journal's window: the records of the main window's store in a
// table, newest first, with filters by serial number, kind, outcome and dates;
// the selected record in full; its backup opened in the editor; the filtered
// records saved as CSV for Excel. With a workshop server set, the server's
// records of every PC instead, read off this thread (this PC's that the server
// refused among them, marked and counted), and this PC's with a line saying
// why when the server cannot be read; the server's connection string
// is set and checked here. One non-modal window of the main window, which owns
// the store, the server and the editor.
#include "JournalStore.h"

#include <QWidget>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>

class Dialogs;
class JournalModel;
class WorkshopServer;
class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTableView;

class JournalWindow : public QWidget {
    Q_OBJECT
public:
    JournalWindow(journal::JournalStore& store, WorkshopServer& server, Dialogs& dialogs, QWidget* parent = nullptr);

    // The serial number the main window read last: "Это устройство" fills it in.
    void setThisDevice(std::optional<std::uint32_t> serial);
    // Reads the journal again with the filters as they stand; the selected
    // record stays selected when it is still listed.
    void refresh();

    // Loads a backup's settings text (Windows-1251, as the controller gave it)
    // of the controller with that serial number into the editor: the main window's.
    std::function<void(const std::string& settingsText, std::optional<std::uint32_t> serial)> openBackup;
    // A parameter's name for the change lists; may be empty.
    std::function<QString(const std::string& key)> parameterName;

    QLineEdit* ServerEdit;    // the workshop server's libpq connection string; empty: none
    QPushButton* CheckButton; // Проверить: saves it and connects
    QLabel* ServerStatus;     // what the check found
    QLabel* ServerNote;       // the server's records cannot be shown: why, and what waits to be sent
    QLineEdit* SerialEdit;
    QPushButton* ThisDeviceButton;
    QComboBox* KindBox;
    QComboBox* OutcomeBox;
    QCheckBox* DateCheck;
    QDateEdit* FromDate;
    QDateEdit* ToDate;
    QLabel* FilterNote;   // what is wrong with a filter typed
    QLabel* ProblemLabel; // why the journal cannot be read or written
    QTableView* Table;
    JournalModel* Model;
    QPlainTextEdit* Details;
    QLabel* CountLabel;
    QPushButton* OpenBackupButton;
    QPushButton* ExportButton;

    void CheckClick();
    void OpenBackupClick();
    void ExportClick();
    // A check of the server, a read of its records or of the selected one's backup, or an export is under way.
    bool waiting() const;

protected:
    void showEvent(QShowEvent* e) override;

private:
    // The filter of the widgets into the model; a wrong one is said inline and
    // the table keeps what it showed.
    void applyFilter(bool askServer = true);
    void showSelected();
    // A read of the server ended: its rows, or this PC's and why.
    void serverRead();
    // Another server (or none) is in use, set elsewhere (the main window's start aside).
    void serverChanged();
    // Uses conninfo (with a password typed for it, or none) and connects off this thread.
    void startCheck(const std::string& conninfo, const std::string& password);
    void showStatus(const QString& text, bool trouble);
    // Asks for the server's password; true when one was typed (and is being checked).
    bool askPassword();
    void showServerNote();
    void showCount();
    void showProblem(bool read);

    journal::JournalStore& store_;
    WorkshopServer& server_;
    Dialogs& dialogs_;
    unsigned check_ = 0, find_ = 0; // the check and the selected record's read: older answers are dropped
    bool checking_ = false, ownChange_ = false, exporting_ = false, finding_ = false;
    std::set<std::string> warned_, asked_; // connection strings cautioned about, asked a password for
    std::optional<std::uint32_t> thisDevice_;
    // The selected record: in full (backup text included) once read from this
    // PC's journal or the server, as listed until then.
    std::optional<journal::JobRecord> selected_;
    bool placed_ = false;
};
