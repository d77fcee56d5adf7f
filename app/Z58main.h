#pragma once
// The main window: port choice, the device object and the parameter model it
// owns for the whole run, the information and settings buttons, and the window
// side of the firmware and sound bank jobs (one block per timer tick).
#include "DeviceInfo.h"
#include "DeviceInterface.h"
#include "FirmwareJob.h"
#include "JobDriver.h"
#include "ParameterList.h"
#include "PortListBox.h"
#include "SoundJob.h"
#include "Upload.h"
#include "WindowHost.h"

#include <QWidget>
#include <functional>
#include <memory>

class Dialogs;
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

    // The editor is created after the main window and borrows its model and device.
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

    // Shared with the exchanges that use it: a port chosen while one runs
    // gives a new device, and the exchange finishes on the old one.
    std::shared_ptr<DeviceInterface> CurrentDevice;
    ParameterList* Parameters() { return Parameters_.get(); }
    TParametersEditForm* ParametersEditForm = nullptr;

    // The carried data the uploads send.
    FirmwareImage Firmware;
    std::int32_t FirmwareSize = 0;
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

    // Runs op on the exchange thread; done gets its result on this thread.
    void exchange(std::uint32_t limitMs, std::function<int(DeviceInterface&)> op, std::function<void(int)> done);
    static std::shared_ptr<DeviceInterface> newDevice();
    void addLog(const QString& line);
    // Logs why the port of the exchange that just failed cannot be used.
    void logPortProblem();
    // true: the window may close (asks first while an upload or an exchange runs).
    bool FormCloseQuery();
    // From the begin request to the end of the upload's blocks.
    bool uploadRunning() const;
    // A job or an exchange of this window has not ended yet.
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

    Dialogs& dialogs_;
    std::unique_ptr<ParameterList> Parameters_;
    WindowHost host_;
    JobDriver* firmware_;
    JobDriver* sound_;
    JobDriver* search_;
    JobDriver* report_;
    QAction* reportAction_;
    std::string portWhy_;  // of the exchange whose end is being handled
};
