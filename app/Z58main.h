#pragma once
// The main window: port choice, the device object and the parameter model it
// owns for the whole run, the information and settings buttons, and the firmware
// and sound bank upload jobs driven one block per timer tick.
#include "DeviceInfo.h"
#include "DeviceInterface.h"
#include "ParameterList.h"
#include "PortListBox.h"
#include "Upload.h"

#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

class Dialogs;
class QGroupBox;
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

    std::unique_ptr<DeviceInterface> CurrentDevice;
    ParameterList* Parameters() { return Parameters_.get(); }
    TParametersEditForm* ParametersEditForm = nullptr;

    // Firmware upload state.
    FirmwareImage Firmware;
    std::int32_t FirmwareSize = 0;
    bool FirmwareUploading = false;
    std::string FirmwareBackup; // the settings saved before this firmware update, offered back after it
    std::optional<UploadStepper> FirmwareUpload;
    // Sound bank upload state.
    SoundBank Sound;
    std::int32_t SoundSize = 0;
    std::optional<UploadStepper> SoundStream;

    void PortComboBoxChange(const QString& text);
    void FindPortButtonClick();
    void GetSerialButtonClick();
    void GetVersionButtonClick();
    void ReadButtonClick();
    void OpenFileButtonClick();
    void BlowUpdateButtonClick();
    void Timer1Timer();
    void WaveUpdateButtonClick();
    void Timer2Timer();

    // A device operation on the exchange worker; the window waits for it.
    int exchange(std::uint32_t limitMs, const std::function<int()>& op);
    static std::unique_ptr<DeviceInterface> newDevice();
    void addLog(const QString& line);
    void logPortProblem();
    void logSearchProblems();
    // true: the window may close (asks first while an upload runs).
    bool FormCloseQuery();
    bool uploadRunning() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* e) override;

private:
    // Reads the remembered port, writing the "COM5" default when there is none.
    std::string rememberedPort();
    void selectPort(const std::string& port);
    void restoreWaveCaption();
    void updateUploadLocks();
    void showEditor();
    void offerRestore();
    QString waveCaption() const;

    Dialogs& dialogs_;
    std::unique_ptr<ParameterList> Parameters_;
    bool tick1Pending_ = false, tick2Pending_ = false;
};
