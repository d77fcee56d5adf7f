#pragma once
// The service journal's window: the records of the main window's store in a
// table, newest first, with filters by serial number, kind, outcome and dates;
// the selected record in full; its backup opened in the editor; the filtered
// records saved as CSV for Excel. One non-modal window of the main window,
// which owns the store and the editor.
#include "JournalStore.h"

#include <QWidget>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

class Dialogs;
class JournalModel;
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
    JournalWindow(journal::JournalStore& store, Dialogs& dialogs, QWidget* parent = nullptr);

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

    void OpenBackupClick();
    void ExportClick();

protected:
    void showEvent(QShowEvent* e) override;

private:
    // The filter of the widgets into the model; a wrong one is said inline and
    // the table keeps what it showed.
    void applyFilter();
    void showSelected();
    void showCount();
    void showProblem(bool read);

    journal::JournalStore& store_;
    Dialogs& dialogs_;
    std::optional<std::uint32_t> thisDevice_;
    std::optional<journal::JobRecord> selected_; // in full, backup text included
    bool placed_ = false;
};
