#include "Z58main.h"

#include "BackupStore.h"
#include "Cp1251.h"
#include "Device.h"
#include "Dialogs.h"
#include "Embedded.h"
#include "ExchangeWorker.h"
#include "ParametrsEdit.h"
#include "PortList.h"
#include "PortListBox.h"
#include "PortProblem.h"
#include "PortSettingStore.h"
#include "SettingsBackup.h"
#include "SettingsFile.h"
#include "crc32.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <stdexcept>
#include <utility>

DeviceInfo EmbeddedInfo{};

namespace {

QString ui(const std::string& cp1251Text) { return QString::fromStdString(cp1251::toUtf8(cp1251Text)); }

constexpr int kFirstListedPort = 2;
constexpr int kLastListedPort = 255;
const char kDeviceBusy[] = "Устройство не подключено или занято";
const char kAbandonQuestion[] = "Идет обмен с устройством. Прервать и выйти?";

QPushButton* button(QWidget* parent, const char* name, const QString& text, int x, int y, int w, int h) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(name);
    b->setGeometry(x, y, w, h);
    b->setAutoDefault(false);
    return b;
}

} // namespace

TMainForm::TMainForm(Dialogs& dialogs) : dialogs_(dialogs) {
    setObjectName("MainForm");
    setFixedSize(320, 505);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);

    GroupBox1 = new QGroupBox(" Порт подключения ", this);
    GroupBox1->setObjectName("GroupBox1");
    GroupBox1->setGeometry(20, 16, 277, 89);
    PortComboBox = new PortListBox(GroupBox1);
    PortComboBox->setObjectName("PortComboBox");
    PortComboBox->setGeometry(16, 33, 113, 21);
    PortComboBox->setEditable(true);
    PortComboBox->setInsertPolicy(QComboBox::NoInsert);
    // Every keystroke is the port name exactly as typed: an inline completion
    // would turn "COM1" into "COM10" and remember a port nobody chose.
    PortComboBox->setCompleter(nullptr);
    PortComboBox->setMaxVisibleItems(25);
    PortComboBox->setToolTip("Номер порта к которому подключено устройства");
    FindPortButton = button(GroupBox1, "FindPortButton", "Определить", 168, 31, 89, 25);
    FindPortButton->setToolTip("Сканирование портов и поиск устройства");
    BlowUpdateButton = button(this, "BlowUpdateButton", "", 20, 125, 277, 25);
    BlowUpdateButton->setToolTip("Нажать для обновления прошивки");
    WaveUpdateButton = button(this, "WaveUpdateButton", "", 20, 156, 277, 25);
    ReadButton = button(this, "ReadButton", "Загрузить настройки из устройства", 20, 187, 277, 25);
    OpenFileButton = button(this, "OpenFileButton", "Открыть файл с настройками", 20, 218, 277, 25);
    GetSerialButton = button(this, "GetSerialButton", "Серийный номер", 20, 265, 129, 25);
    GetVersionButton = button(this, "GetVersionButton", "Версия ПО", 168, 265, 129, 25);
    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName("Memo1");
    Memo1->setGeometry(0, 312, 320, 177);
    Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    SaveProgress = new QProgressBar(this);
    SaveProgress->setObjectName("SaveProgress");
    SaveProgress->setGeometry(0, 489, 320, 16);
    SaveProgress->setTextVisible(false);
    SaveProgress->setRange(0, 100);
    SaveProgress->setValue(0);
    // Tool-tips are set but not shown in this window.
    for (QWidget* w : {static_cast<QWidget*>(PortComboBox), static_cast<QWidget*>(FindPortButton),
                       static_cast<QWidget*>(BlowUpdateButton)})
        w->installEventFilter(this);

    setTabOrder(ReadButton, BlowUpdateButton);
    setTabOrder(BlowUpdateButton, WaveUpdateButton);
    setTabOrder(WaveUpdateButton, OpenFileButton);
    setTabOrder(OpenFileButton, PortComboBox);
    setTabOrder(PortComboBox, FindPortButton);
    setTabOrder(FindPortButton, Memo1);
    setTabOrder(Memo1, GetSerialButton);
    setTabOrder(GetSerialButton, GetVersionButton);
    ReadButton->setFocus();

    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(1);
    // Coarse timers may fire up to 5% late and are grouped with other wake-ups;
    // an upload's run time is its ticks, so they are precise.
    Timer1->setTimerType(Qt::PreciseTimer);
    Timer2 = new QTimer(this);
    Timer2->setObjectName("Timer2");
    Timer2->setInterval(10);
    Timer2->setTimerType(Qt::PreciseTimer);

    // The device object comes first; it reads the remembered port itself.
    CurrentDevice = newDevice();

    const EmbeddedResource blow = embeddedResource("blow");
    if (!Firmware.load(blow.data, blow.size))
        throw std::runtime_error("Встроенный ресурс \"blow\" не найден или повреждён");
    FirmwareSize = static_cast<std::int32_t>(Firmware.imageSize);
    EmbeddedInfo = Firmware.info;
    const std::string type = fieldText(EmbeddedInfo.deviceType);
    const std::string version = fieldText(EmbeddedInfo.firmwareVersion);
    setWindowTitle((type == "QV_r2" ? QString("Z58") : ui(type)) + "     Версия: " + ui(version));
    BlowUpdateButton->setText("Обновить прошивку до " + ui(version));

    const EmbeddedResource wave = embeddedResource("wave_list");
    if (!Sound.load(wave.data, wave.size))
        throw std::runtime_error("Встроенный ресурс \"wave_list\" не найден или повреждён");
    SoundSize = static_cast<std::int32_t>(wave.size - 8);
    WaveUpdateButton->setText(waveCaption());

    Memo1->clear();
    PortComboBox->blockSignals(true);
    PortComboBox->clear();
    PortComboBox->setEditText("");
    const std::string port = rememberedPort();
    // The first device was made before a first start's default was written: it
    // must use the port the window shows, not an empty name.
    if (static_cast<Device*>(CurrentDevice.get())->portName() != port)
        CurrentDevice->SetPortName(port);
    for (int n = kFirstListedPort; n <= kLastListedPort; ++n)
        PortComboBox->addItem("COM" + QString::number(n));
    PortComboBox->refreshMarks();
    selectPort(port);
    PortComboBox->blockSignals(false);

    if (!embeddedResource("PARAMETER_LIST"))
        throw std::runtime_error("Встроенный ресурс PARAMETER_LIST не найден");
    Parameters_ = std::make_unique<ParameterList>(embeddedText("PARAMETER_LIST"));

    connect(PortComboBox, &QComboBox::editTextChanged, this,
            [this](const QString& t) { runHandler(dialogs_, this, [&] { PortComboBoxChange(t); }); });
    auto on = [this](QPushButton* b, void (TMainForm::*handler)()) {
        connect(b, &QPushButton::clicked, this, [this, handler] { runHandler(dialogs_, this, [&] { (this->*handler)(); }); });
    };
    on(FindPortButton, &TMainForm::FindPortButtonClick);
    on(GetSerialButton, &TMainForm::GetSerialButtonClick);
    on(GetVersionButton, &TMainForm::GetVersionButtonClick);
    on(ReadButton, &TMainForm::ReadButtonClick);
    on(OpenFileButton, &TMainForm::OpenFileButtonClick);
    on(BlowUpdateButton, &TMainForm::BlowUpdateButtonClick);
    on(WaveUpdateButton, &TMainForm::WaveUpdateButtonClick);
    // A tick that falls due while an exchange runs waits for it to end.
    auto tick = [this](bool& pending, void (TMainForm::*handler)()) {
        if (pending)
            return;
        pending = true;
        exchangeWorker().afterCurrent([this, &pending, handler] {
            pending = false;
            runHandler(dialogs_, this, [&] { (this->*handler)(); });
        });
    };
    connect(Timer1, &QTimer::timeout, this, [this, tick] { tick(tick1Pending_, &TMainForm::Timer1Timer); });
    connect(Timer2, &QTimer::timeout, this, [this, tick] { tick(tick2Pending_, &TMainForm::Timer2Timer); });
    // Timer1 runs only while a firmware upload does: an idle 1 ms tick would do
    // nothing but wake the program a thousand times a second.

    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

TMainForm::~TMainForm() = default;

bool TMainForm::uploadRunning() const { return FirmwareUploading || SoundStream.has_value(); }

// The rest of an upload must go to the controller it began on: the port cannot
// be changed or searched while one runs.
void TMainForm::updateUploadLocks() {
    const bool free = !uploadRunning();
    PortComboBox->setEnabled(free);
    FindPortButton->setEnabled(free);
}

void TMainForm::closeEvent(QCloseEvent* e) {
    if (runCloseQuery(dialogs_, this, [this] { return FormCloseQuery(); }))
        e->accept();
    else
        e->ignore();
}

bool TMainForm::FormCloseQuery() {
    ExchangeWorker& worker = exchangeWorker();
    if (!uploadRunning() && !worker.busy())
        return true;
    const QString question = uploadRunning() ? "Идет обновление. Прервать и выйти?" : kAbandonQuestion;
    if (dialogs_.message(this, question, "Внимание", Buttons::OkCancel) != Answer::Ok)
        return false;
    Timer1->stop();
    Timer2->stop();
    FirmwareUploading = false;
    if (worker.busy()) {
        // The frame being sent is finished and the port closed by the exchange
        // itself; the reply is no longer waited for. The upload's state is in
        // use until then and goes with the window.
        worker.cancel(true);
        return true;
    }
    SoundStream.reset();
    updateUploadLocks();
    return true;
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ToolTip)
        return true;
    return QWidget::eventFilter(watched, event);
}

std::unique_ptr<DeviceInterface> TMainForm::newDevice() { return std::make_unique<Device>(); }

int TMainForm::exchange(std::uint32_t limitMs, const std::function<int()>& op) {
    letCancel(CurrentDevice.get());
    return exchangeWorker().run(this, {static_cast<int>(limitMs)}, op);
}

void TMainForm::addLog(const QString& line) { Memo1->appendPlainText(line); }

// The boxes say only "not connected or busy"; where the OS tells why the port
// cannot be used, the log says it too.
void TMainForm::logPortProblem() {
    if (!CurrentDevice)
        return;
    const std::string why = portProblem(static_cast<Device*>(CurrentDevice.get())->portName());
    if (!why.empty())
        addLog(QString::fromUtf8(why.c_str()));
}

void TMainForm::logSearchProblems() {
    for (const PresentPort& p : refreshPortNames()) {
        if (p.name.empty())
            continue;
        const std::string why = portProblem(p.name);
        if (!why.empty())
            addLog(QString::fromStdString(p.name) + ": " + QString::fromUtf8(why.c_str()));
    }
}

std::string TMainForm::rememberedPort() {
    std::string port = portSettingStore().read();
    if (port.empty()) {
        port = kDefaultPort;
        portSettingStore().write(port);
    }
    return port;
}

void TMainForm::selectPort(const std::string& port) {
    const int index = PortComboBox->findText(QString::fromStdString(port), Qt::MatchExactly | Qt::MatchCaseSensitive);
    const bool blocked = PortComboBox->blockSignals(true);
    if (index >= 0) {
        PortComboBox->setCurrentIndex(index);
    } else {
        PortComboBox->setCurrentIndex(-1);
        PortComboBox->setEditText("");
    }
    PortComboBox->blockSignals(blocked);
}

void TMainForm::PortComboBoxChange(const QString& text) {
    portSettingStore().write(text.toStdString());
    if (CurrentDevice)
        CurrentDevice = newDevice();
}

void TMainForm::FindPortButtonClick() {
    if (!CurrentDevice)
        return;
    auto* device = dynamic_cast<Device*>(CurrentDevice.get());
    letCancel(device);
    if (device)
        device->SetSearchObserver([](const std::string& port) { exchangeWorker().searchingPort(port); });
    const int found = exchangeWorker().run(this, {static_cast<int>(kReplyTimeoutMs), true},
                                           [&] { return CurrentDevice->FindDevicePort(this) ? 1 : 0; });
    if (device)
        device->SetSearchObserver(nullptr);
    if (found)
        selectPort(rememberedPort());
    else
        logSearchProblems();
}

void TMainForm::GetSerialButtonClick() {
    if (!CurrentDevice)
        return;
    std::uint32_t serial = 0;
    if (exchange(kReplyTimeoutMs, [&] { return CurrentDevice->GetSerialNumber(serial); }) < 0) {
        logPortProblem();
        dialogs_.message(this, "Устройство не подключено или занято.", "Загрузка не возможна", Buttons::Ok);
        return;
    }
    addLog("Серийный номер устройства " + QString::number(static_cast<std::int32_t>(serial)));
}

void TMainForm::GetVersionButtonClick() {
    if (!CurrentDevice)
        return;
    std::string text;
    if (exchange(kReplyTimeoutMs, [&] { return CurrentDevice->GetVersionInfo(text); }) < 0) {
        logPortProblem();
        dialogs_.message(this, kDeviceBusy, "Ошибка", Buttons::Ok);
        return;
    }
    DeviceInfo info;
    CurrentDevice->ParseVersionInfo(info, text.c_str());
    const std::string type = fieldText(info.deviceType);
    addLog("Тип устройства   : " + (type == "QV_r2" ? QString("Z58 (r2)") : ui(type)));
    addLog("Версия прошивки : " + ui(fieldText(info.firmwareVersion)));
}

void TMainForm::showEditor() {
    if (!ParametersEditForm)
        return;
    ParametersEditForm->Params = Parameters_.get();
    if (!ParametersEditForm->log)
        ParametersEditForm->log = [this](const QString& line) { addLog(line); };
    dialogs_.showModal(ParametersEditForm);
}

void TMainForm::ReadButtonClick() {
    std::string text;
    if (!CurrentDevice || exchange(kReplyTimeoutMs, [&] { return CurrentDevice->ReadSettings(text); }) < 0) {
        logPortProblem();
        dialogs_.message(this, "Устройство не подключено или занято.", "Загрузка не возможна", Buttons::Ok);
        return;
    }
    Parameters_->LoadSettingsText(text);
    if (ParametersEditForm)
        ParametersEditForm->setLoadedText(text);
    showEditor();
}

void TMainForm::OpenFileButtonClick() {
    const QString file = dialogs_.openFile(this, kSettingsFileFilter, "txt");
    if (file.isEmpty())
        return;
    const std::string text = readSettingsFile(file.toStdString());
    Parameters_->LoadSettingsText(text);
    if (ParametersEditForm)
        ParametersEditForm->setLoadedText(text);
    showEditor();
}

// ---- firmware update

void TMainForm::BlowUpdateButtonClick() {
    if (!CurrentDevice)
        return;
    if (dialogs_.message(this,
                         "После обновления возможно произойдет сброс настроек.\n"
                         "Рекомендуется сохранить текущие настройки. (Кнопка \"Сохранить в файл\").\n"
                         "Начать обновление ?",
                         "Внимание", Buttons::OkCancel) != Answer::Ok)
        return;
    std::string text;
    if (exchange(kReplyTimeoutMs, [&] { return CurrentDevice->GetVersionInfo(text); }) < 0) {
        logPortProblem();
        dialogs_.message(this, kDeviceBusy, "Ошибка", Buttons::Ok);
        return;
    }
    DeviceInfo device;
    CurrentDevice->ParseVersionInfo(device, text.c_str());
    if (compareVersions(fieldText(device.firmwareVersion), fieldText(Firmware.info.firmwareVersion)) >= 0 &&
        dialogs_.message(this,
                         "Устройство уже содержит новейшую или равную версию.\n" + QString(25, ' ') + "Обновлять или нет?",
                         "Внимание", Buttons::YesNo) != Answer::Yes)
        return;
    // The update may reset the settings: keep them first, to offer them back.
    if (!backupBeforeWrite(dialogs_, this, *CurrentDevice, FirmwareBackup, [this](const QString& l) { addLog(l); }))
        return;
    SaveProgress->setRange(0, 100);
    SaveProgress->setValue(0);
    BlowUpdateButton->setEnabled(false);
    addLog("Подготовка к обновлению, ждите ...");
    if (exchange(kFirmwareBeginTimeoutMs, [&] { return CurrentDevice->BeginFirmwareUpdate(); }) < 0) {
        logPortProblem();
        dialogs_.message(this, kDeviceBusy, "Ошибка", Buttons::Ok);
        addLog("Обновление отменено.");
        BlowUpdateButton->setEnabled(true);
        return;
    }
    addLog("Загрузка новой версии программы ...");
    SaveProgress->setRange(0, FirmwareSize / 1024 + 1);
    SaveProgress->setValue(0);
    FirmwareUpload.emplace(Firmware.stream.data(), Firmware.stream.size(), Firmware.imageCrc, Firmware.imageSize);
    FirmwareUploading = true;
    updateUploadLocks();
    Timer1->start();
}

void TMainForm::Timer1Timer() {
    Timer1->stop();
    if (!FirmwareUploading || !FirmwareUpload)
        return;
    if (!FirmwareUpload->allSent()) {
        if (exchange(kReplyTimeoutMs, [&] { return FirmwareUpload->sendNextBlock(*CurrentDevice); }) < 0) {
            dialogs_.message(this, "Ошибка при передачи данных", "Ошибка", Buttons::Ok);
            addLog("Обновление отменено.");
            FirmwareUploading = false;
            updateUploadLocks();
            BlowUpdateButton->setEnabled(true);
            return;
        }
        SaveProgress->setValue(SaveProgress->value() + 1);
        Timer1->start();
        return;
    }
    SaveProgress->setValue(SaveProgress->maximum());
    FirmwareUploading = false;
    updateUploadLocks();
    BlowUpdateButton->setEnabled(true);
    if (exchange(kReplyTimeoutMs, [&] { return FirmwareUpload->commit(*CurrentDevice); }) < 0) {
        dialogs_.message(this, "Нет подтвеждения CRC", "Ошибка обновления.", Buttons::Ok);
        addLog("Обновление отменено.");
        return;
    }
    addLog("Загрузка закончена.");
    if (dialogs_.message(this,
                         "Новая версия програмы загружена.\nДля применения нужна перезагрузка.\nПерегрузить прибор сейчас ?",
                         "Внимание", Buttons::OkCancel) != Answer::Ok)
        return;
    exchange(kReplyTimeoutMs, [&] { return CurrentDevice->RestartDevice(); });
    dialogs_.message(this, "Дождитесь звукового сигнала подключения устройства и нажмите OK", "Перезагрузка ...", Buttons::Ok);
    offerRestore();
}

// After the restart, the settings saved before the update can go back; only
// with the user's OK.
void TMainForm::offerRestore() {
    const std::string backup = std::exchange(FirmwareBackup, std::string());
    if (backup.empty())
        return;
    if (dialogs_.message(this,
                         "После обновления настройки могли сброситься.\n"
                         "Записать в устройство настройки, сохранённые перед обновлением?\n" +
                             QString::fromStdString(backup),
                         "Восстановление настроек", Buttons::OkCancel) != Answer::Ok)
        return;
    const std::string text = backupSettingsText(backup);
    if (exchange(kReplyTimeoutMs, [&] { return CurrentDevice->WriteSettings(text); }) < 0) {
        logPortProblem();
        dialogs_.message(this, kDeviceBusy, "Ошибка", Buttons::Ok);
        return;
    }
    addLog("Настройки восстановлены из " + QString::fromStdString(backup));
    dialogs_.message(this, "Настройки восстановлены.", "Сообщение", Buttons::Ok);
}

// ---- sound bank update

QString TMainForm::waveCaption() const { return "Обновить звук до " + QString::number(SoundSize); }

void TMainForm::restoreWaveCaption() { WaveUpdateButton->setText(waveCaption()); }

void TMainForm::WaveUpdateButtonClick() {
    if (!CurrentDevice)
        return;
    if (dialogs_.message(this, "Произвести загрузку звуковых данных?\nСтарые данные будут удалены безвозвратно!", "Внимание",
                         Buttons::OkCancel) != Answer::Ok)
        return;
    SaveProgress->setValue(0);
    WaveUpdateButton->setText("Стоп");
    addLog("Подготовка к записи, ждите...");
    if (exchange(kSoundBeginTimeoutMs, [&] { return CurrentDevice->BeginSoundUpdate(); }) < 0) {
        logPortProblem();
        dialogs_.message(this, "Устройство не подключено или занято.\nОбновление отменено.", "Ошибка", Buttons::Ok);
        restoreWaveCaption();
        return;
    }
    SoundStream.emplace(Sound.stream, Sound.size, Sound.dataCrc, Sound.dataLength);
    updateUploadLocks();
    SaveProgress->setRange(0, static_cast<int>(Sound.size / 1024 + 1));
    SaveProgress->setValue(0);
    Timer2->start();
    addLog("Идет запись звуковых данных...");
}

void TMainForm::Timer2Timer() {
    Timer2->stop();
    if (!SoundStream)
        return;
    if (!SoundStream->allSent()) {
        if (exchange(kReplyTimeoutMs, [&] { return SoundStream->sendNextBlock(*CurrentDevice); }) < 0) {
            dialogs_.message(this, "Ошибка при передачи данных", "Ошибка", Buttons::Ok);
            restoreWaveCaption();
            SoundStream.reset();
            updateUploadLocks();
            return;
        }
        SaveProgress->setValue(SaveProgress->value() + 1);
        Timer2->start();
        return;
    }
    SaveProgress->setValue(SaveProgress->maximum());
    const UploadStepper finished = *SoundStream;
    SoundStream.reset();
    updateUploadLocks();
    restoreWaveCaption();
    if (exchange(kReplyTimeoutMs, [&] { return finished.commit(*CurrentDevice); }) >= 0)
        dialogs_.message(this, "Данные успешно записаны.", "Сообщение", Buttons::Ok);
    else
        dialogs_.message(this, "Нет подтвеждения CRC", "Ошибка обновления.", Buttons::Ok);
}
