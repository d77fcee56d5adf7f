#pragma once
// The main window: port choice, the controller's runner (with the current
// device) and the parameter model it owns for the whole run, the information
// and settings buttons, and the window side of the firmware and sound bank
// jobs (one block per timer tick).
#include "DeviceInfo.h"
#include "DeviceInterface.h"
#include "FirmwareJob.h"
#include "ParameterList.h"
#include "PortClaims.h"
#include "PortListBox.h"
#include "Runner.h"
#include "SoundJob.h"
#include "TimerPacer.h"
#include "Upload.h"
#include "WindowHost.h"

#include <QWidget>
#include <functional>
#include <memory>

class Dialogs;
class ExchangeThread;
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
    // Goes before everything its jobs and its thread use.
    std::unique_ptr<jobs::Runner> runner_;
    jobs::Runner::RunId firmware_ = 0, sound_ = 0, search_ = 0, report_ = 0;
    QAction* reportAction_;
};
