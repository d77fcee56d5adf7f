#pragma once
// The series window: many controllers prepared with one reference settings
// file, each known by its serial number, on every port at once (each unit on a
// runner of its own). The set-up (kept between runs) is checked before Start;
// the units come in as they are plugged in, a row each with its steps' marks
// and a bar while one uploads; Stop lets a unit finish the job it is in and
// ends the series; a unit's row can be done again. One non-modal window of the
// main window, which lends it the devices, its port claims (its own port is
// left alone), the service journal and the carried data.
#include "DeviceInterface.h"
#include "ParameterList.h"
#include "QtEventLoop.h"
#include "Series.h"
#include "SeriesSetting.h"

#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class Dialogs;
class SeriesModel;
class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QTableView;
class QTimer;

namespace jobs {
class JobJournal;
class PortClaims;
} // namespace jobs

class SeriesWindow : public QWidget, public jobs::SeriesObserver {
    Q_OBJECT
public:
    // What the program lends every series of this window; it outlives the window.
    struct Lent {
        std::function<jobs::DevicePtr(const std::string& port)> device;
        jobs::PortClaims* claims = nullptr;
        jobs::JobJournal* journal = nullptr;
        jobs::Carried firmware, soundBank;
        QString firmwareVersion; // the carried firmware's, for the set-up's texts
        int soundSize = 0;       // as the main window's sound button names it
    };

    SeriesWindow(Lent lent, Dialogs& dialogs, QWidget* parent = nullptr);
    ~SeriesWindow() override;

    QGroupBox* SetupBox;
    QLineEdit* ReferenceEdit;
    QPushButton* ReferenceButton;
    QComboBox* FirmwareBox;  // in the order of jobs::FirmwarePolicy: older, always, never
    QCheckBox* SoundCheck;
    QComboBox* OwnerBox;     // keep, write
    QSpinBox* ExpectedSpin;  // 0: not set
    QLineEdit* SheetsEdit;
    QPushButton* SheetsButton;
    QLineEdit* CsvEdit;
    QPushButton* CsvButton;
    QComboBox* FailureBox;   // go on, stop
    QLineEdit* PortsEdit;
    QPushButton* StartButton;
    QPushButton* StopButton;
    QLabel* StateLabel;
    QLabel* CountLabel;
    QTableView* Table;
    SeriesModel* Model;
    QLabel* CsvLabel;        // where the series' CSV goes, or why it is not written
    QPushButton* AgainButton;
    QAction* AgainAction;    // the table's context menu
    QPlainTextEdit* Log;

    void StartClick();
    void StopClick();
    // The selected row's unit is done again when the series next sees it.
    void AgainClick();
    void ReferenceClick();
    void SheetsClick();
    void CsvClick();

    // A series was started and has not ended (stopping included).
    bool running() const;
    // A unit of the running series is in the middle of an upload.
    bool uploading() const;
    // Drops the running series at once (the window or the program closes): its
    // jobs end interrupted, on record as such.
    void abandon();
    // true: the window may close (asks first while a series runs; OK drops it).
    bool closeQuery();
    // The series of the last Start (null before the first, and once dropped).
    const jobs::Series* series() const { return series_.get(); }

    void unitChanged(const jobs::UnitRow& row) override;
    void seriesLine(const std::string& line) override;
    void seriesEnded() override;

protected:
    void closeEvent(QCloseEvent* e) override;
    void showEvent(QShowEvent* e) override;

private:
    SeriesChoices choices() const;
    void showChoices(const SeriesChoices& c);
    void refuse(const QString& text);
    void updateControls();
    void showCounts();
    void showCsv();
    void addLog(const QString& line);
    void fitColumns();

    Lent lent_;
    Dialogs& dialogs_;
    // The description the reference is checked and read back by: the window's
    // own, as the program carries it (the main window's holds the editor's values).
    ParameterList model_;
    QTimer* clock_;    // the running rows' times
    // Before the series: its queued calls go with it, after the series.
    QtEventLoop loop_;
    std::unique_ptr<jobs::Series> series_;
    bool abandoned_ = false, placed_ = false;
    std::string csvFile_, csvProblem_; // kept when the series is dropped
};
