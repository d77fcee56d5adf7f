#pragma once
// The main window: port choice, the controller's runner (with the current
// device) and the parameter model it owns for the whole run, the information
// and settings buttons, and the window side of the firmware and sound bank
// jobs (one block per timer tick).
#include "DeviceInfo.h"
#include "DeviceInterface.h"
#include "FirmwareJob.h"
#include "JournalStore.h"
#include "ParameterList.h"
#include "PortClaims.h"
#include "PortListBox.h"
#include "JobJournal.h"
#include "Runner.h"
#include "SoundJob.h"
#include "TimerPacer.h"
#include "Upload.h"
#include "WindowHost.h"
#include "WorkshopServer.h"

#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class Dialogs;
class ExchangeThread;
class JournalWindow;
class SeriesWindow;
class QGroupBox;
class QAction;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTimer;
class TParametersEditForm;

// The firmware image's information block, copied once at start-up.
extern DeviceInfo EmbeddedInfo;

class TMainForm : public QWidget {
    Q_OBJECT
public:
    // Throws std::runtime_error when the embedded data is missing or broken.
    explicit TMainForm(Dialogs& dialogs);
    ~TMainForm() override;

    // The editor is created after the main window and borrows its model and runner.
    void setEditor(TParametersEditForm* editor) { ParametersEditForm = editor; }

    QGroupBox* GroupBox1;
    PortListBox* PortComboBox;
    QPushButton* FindPortButton;
    QPushButton* BlowUpdateButton;
    QPushButton* WaveUpdateButton;
    QPushButton* ReadButton;
    QPushButton* OpenFileButton;
    QPushButton* GetSerialButton;
    QPushButton* GetVersionButton;
    QPushButton* JournalButton; // below the information buttons, in room the others left free
    QPushButton* SeriesButton;  // beside it, in the same free row
    QPlainTextEdit* Memo1;
    QProgressBar* SaveProgress;
    QTimer* Timer1;
    QTimer* Timer2;

    // The runner's current device: a port chosen while a job runs gives a new
    // device, and the running job finishes on the old one.
    std::shared_ptr<DeviceInterface> CurrentDevice;
    ParameterList* Parameters() { return Parameters_.get(); }
    // Runs every job of this window and the editor on the chosen controller.
    jobs::Runner& runner() { return *runner_; }
    // This user's service journal, opened once for the whole run.
    journal::JournalStore& journalStore() { return journal_; }
    // The workshop server the journal goes to (none set: this PC only).
    WorkshopServer& workshopServer() { return *server_; }
    // The journal window, once it was opened; one for the window's life.
    JournalWindow* journalWindow() const { return journalWindow_; }
    // The series window, once it was opened; one for the window's life.
    SeriesWindow* seriesWindow() const { return seriesWindow_; }
    TParametersEditForm* ParametersEditForm = nullptr;

    // The carried data the uploads send, checked at start-up.
    FirmwareImage Firmware;
    SoundBank Sound;
    std::int32_t SoundSize = 0;

    void PortComboBoxChange(const QString& text);
    void FindPortButtonClick();
    void GetSerialButtonClick();
    void GetVersionButtonClick();
    void ReadButtonClick();
    void OpenFileButtonClick();
    void BlowUpdateButtonClick();
    void Timer1Timer();
    void WaveUpdateButtonClick();
    // Asks where, then gathers the support report and saves it.
    void SaveReportClick();
    // Shows the journal window (made the first time) with its records read
    // again, in front.
    void showJournal();
    // Shows the series window (made the first time), in front.
    void showSeries();
    void Timer2Timer();

    // A device on port, noting its exchanges in the runner's trace.
    std::shared_ptr<DeviceInterface> newDevice(const std::string& port);
    void addLog(const QString& line);
    // true: the window may close (asks first while an upload or an exchange runs).
    bool FormCloseQuery();
    // From the begin request to the end of the upload's blocks.
    bool uploadRunning() const;
    // A job of this window or the editor has not ended yet.
    bool busy() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* e) override;

private:
    // Reads the remembered port, writing the "COM5" default when there is none.
    std::string rememberedPort();
    void selectPort(const std::string& port);
    // Buttons and port box as the jobs stand: one upload at a time, the port
    // kept while one runs.
    void updateControls();
    void showEditor();
    // A settings text (Windows-1251) into the model and the editor, as from a
    // settings file (of the controller with fileSerial, when it is a backup).
    void openSettings(const std::string& text, std::optional<std::uint32_t> fileSerial);
    // A serial number was read: remembered for the journal window, and the
    // log says what the journal knows of the controller (with a server set:
    // the workshop's records, when the server answers in time; this PC's else).
    void serialRead(std::uint32_t serial);
    QString waveCaption() const;
    jobs::FirmwareJob* firmwareJob() const;
    jobs::SoundJob* soundJob() const;

    void setCurrentDevice(std::shared_ptr<DeviceInterface> device);

    Dialogs& dialogs_;
    std::unique_ptr<ParameterList> Parameters_;
    WindowHost host_;
    ExchangeThread* exchangeThread_;
    std::unique_ptr<TimerPacer> pacer_;
    jobs::PortClaims portClaims_;
    // Before the runner, whose jobs write their records to it.
    journal::JournalStore journal_;
    jobs::JobJournal jobJournal_{journal_, journal::Workplace::here("z58config")};
    // Told of each record written; goes after the runner whose jobs write them.
    std::unique_ptr<WorkshopServer> server_;
    // Goes before everything its jobs and its thread use.
    std::unique_ptr<jobs::Runner> runner_;
    jobs::Runner::RunId firmware_ = 0, sound_ = 0, search_ = 0, report_ = 0;
    QAction* reportAction_;
    QAction* journalAction_;
    QAction* seriesAction_;
    JournalWindow* journalWindow_ = nullptr;
    SeriesWindow* seriesWindow_ = nullptr;
    std::optional<std::uint32_t> lastSerial_;
};
