#include "Z58main.h"

#include "Cp1251.h"
#include "Device.h"
#include "Dialogs.h"
#include "Embedded.h"
#include "ExchangeThread.h"
#include "InfoJobs.h"
#include "JournalTexts.h"
#include "JournalWindow.h"
#include "ParametrsEdit.h"
#include "PortListBox.h"
#include "PortSearchJob.h"
#include "ReportJob.h"
#include "SeriesWindow.h"
#include "PortSettingStore.h"
#include "SettingsChoice.h"
#include "ServerSetting.h"
#include "SettingsFile.h"
#include "UploadSlot.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeySequence>
#include <QMenu>
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
const char kAbandonQuestion[] = "Идет обмен с устройством. Прервать и выйти?";
// How long the log line after a serial number waits for the workshop server's count.
constexpr int kServerHistoryWaitMs = 2000;

QPushButton* button(QWidget* parent, const char* name, const QString& text, int x, int y, int w, int h) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(name);
    b->setGeometry(x, y, w, h);
    b->setAutoDefault(false);
    return b;
}

} // namespace

TMainForm::TMainForm(Dialogs& dialogs)
    : dialogs_(dialogs), host_(dialogs, this, [this](const QString& line) { addLog(line); }, nullptr,
                               [this] { updateControls(); }) {
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
    // The journal: a small button in the free row above the log, so every
    // other button keeps its place.
    JournalButton = button(this, "JournalButton", "Журнал работ", 168, 291, 129, 20);
    JournalButton->setToolTip("Журнал работ с устройствами (Ctrl+J)");
    SeriesButton = button(this, "SeriesButton", "Серия", 20, 291, 129, 20);
    SeriesButton->setToolTip("Подготовка серии устройств одним файлом настроек (Ctrl+E)");
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
    host_.setBar(SaveProgress);
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
    setTabOrder(GetVersionButton, SeriesButton);
    setTabOrder(SeriesButton, JournalButton);
    ReadButton->setFocus();

    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(kFirmwareTickMs);
    // Coarse timers may fire up to 5% late and are grouped with other wake-ups;
    // an upload's run time is its ticks, so they are precise.
    Timer1->setTimerType(Qt::PreciseTimer);
    Timer2 = new QTimer(this);
    Timer2->setObjectName("Timer2");
    Timer2->setInterval(kSoundTickMs);
    Timer2->setTimerType(Qt::PreciseTimer);

    // The runner comes first, with a thread of its own for its exchanges and
    // the device on the remembered port.
    exchangeThread_ = new ExchangeThread(this);
    pacer_ = std::make_unique<TimerPacer>(Timer1, Timer2);
    runner_ = std::make_unique<jobs::Runner>(exchangeThread_->makeExecutor(), &portClaims_);
    runner_->setPacer(pacer_.get());
    // The workshop server, when one is set: a sync worker sends each record
    // written, on a thread of its own.
    server_ = std::make_unique<WorkshopServer>(journal_.path(), journal_.access() == journal::JournalAccess::Writable);
    server_->use(journal::journalServer());
    jobJournal_.setWritten([server = server_.get()] { server->recordsWritten(); });
    runner_->setJournal(&jobJournal_);
    runner_->setGuard([this](const std::function<void()>& step) {
        QWidget* active = QApplication::activeWindow();
        runHandler(dialogs_, active ? active : this, step);
    });
    setCurrentDevice(newDevice(portSettingStore().read()));

    const EmbeddedResource blow = embeddedResource("blow");
    if (!Firmware.load(blow.data, blow.size))
        throw std::runtime_error("Встроенный ресурс \"blow\" не найден или повреждён");
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
    if (CurrentDevice->PortName() != port)
        setCurrentDevice(newDevice(port));
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
    // Each upload is paced by its timer: a block's exchange is asked for on a
    // tick, and the tick's timer starts again only when that block has ended.
    // The support report: from the log box's menu and by its key, so the
    // window keeps its buttons as they are.
    reportAction_ = new QAction("Сохранить отчёт для поддержки…", this);
    reportAction_->setObjectName("ReportAction");
    reportAction_->setShortcut(QKeySequence("Ctrl+Shift+R"));
    reportAction_->setShortcutContext(Qt::WindowShortcut);
    addAction(reportAction_);
    connect(reportAction_, &QAction::triggered, this, [this] { runHandler(dialogs_, this, [&] { SaveReportClick(); }); });
    journalAction_ = new QAction("Журнал работ", this);
    journalAction_->setObjectName("JournalAction");
    journalAction_->setShortcut(QKeySequence("Ctrl+J"));
    journalAction_->setShortcutContext(Qt::WindowShortcut);
    addAction(journalAction_);
    connect(journalAction_, &QAction::triggered, this, [this] { runHandler(dialogs_, this, [&] { showJournal(); }); });
    connect(JournalButton, &QPushButton::clicked, journalAction_, &QAction::trigger);
    seriesAction_ = new QAction("Серия", this);
    seriesAction_->setObjectName("SeriesAction");
    seriesAction_->setShortcut(QKeySequence("Ctrl+E"));
    seriesAction_->setShortcutContext(Qt::WindowShortcut);
    addAction(seriesAction_);
    connect(seriesAction_, &QAction::triggered, this, [this] { runHandler(dialogs_, this, [&] { showSeries(); }); });
    connect(SeriesButton, &QPushButton::clicked, seriesAction_, &QAction::trigger);
    Memo1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(Memo1, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        QMenu* menu = Memo1->createStandardContextMenu();
        menu->setObjectName("LogMenu");
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->addSeparator();
        menu->addAction(reportAction_);
        menu->popup(Memo1->viewport()->mapToGlobal(at));
    });
    connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
    connect(Timer2, &QTimer::timeout, this, [this] { Timer2Timer(); });
    // Timer1 runs only while a firmware upload does: an idle 1 ms tick would do
    // nothing but wake the program a thousand times a second.

    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

TMainForm::~TMainForm() {
    // A series still running goes first: its runners' jobs end interrupted
    // (on record in the journal) while the journal, the port claims and the
    // trace their devices write to are all still here.
    delete seriesWindow_;
    seriesWindow_ = nullptr;
    // Jobs still running go with the window; the exchange running now ends
    // within its limit and the runner's thread is joined before the window's
    // parts it may use are gone.
    runner_.reset();
    // The journal window reads the store: it goes before the store does.
    delete journalWindow_;
    journalWindow_ = nullptr;
}

jobs::FirmwareJob* TMainForm::firmwareJob() const { return static_cast<jobs::FirmwareJob*>(runner_->job(firmware_)); }

jobs::SoundJob* TMainForm::soundJob() const { return static_cast<jobs::SoundJob*>(runner_->job(sound_)); }

bool TMainForm::uploadRunning() const {
    const jobs::FirmwareJob* f = firmwareJob();
    const jobs::SoundJob* s = soundJob();
    return (f && f->uploading()) || (s && s->active());
}

bool TMainForm::busy() const { return runner_->busy(); }

void TMainForm::updateControls() {
    if (!runner_)
        return;
    const jobs::UploadKind upload = runner_->uploads().busy();
    const jobs::FirmwareJob* f = firmwareJob();
    const jobs::SoundJob* s = soundJob();
    // One upload at a time: the other upload's button is off while one runs. A
    // firmware job keeps its own button off from its first question on.
    BlowUpdateButton->setEnabled(!f && upload != jobs::UploadKind::Sound);
    WaveUpdateButton->setEnabled(upload != jobs::UploadKind::Firmware);
    WaveUpdateButton->setText(s && s->active() ? QString("Стоп") : waveCaption());
    // The rest of an upload must go to the controller it began on: the port
    // cannot be changed or searched while one runs.
    const bool free = upload == jobs::UploadKind::None;
    PortComboBox->setEnabled(free);
    FindPortButton->setEnabled(free && !runner_->running(search_));
}

void TMainForm::closeEvent(QCloseEvent* e) {
    if (runCloseQuery(dialogs_, this, [this] { return FormCloseQuery(); }))
        e->accept();
    else
        e->ignore();
}

bool TMainForm::FormCloseQuery() {
    const bool series = seriesWindow_ && seriesWindow_->running();
    if (!busy() && !series)
        return true;
    QString question = kAbandonQuestion;
    if (uploadRunning() || (series && seriesWindow_->uploading()))
        question = "Идет обновление. Прервать и выйти?";
    else if (!busy())
        question = "Идет серия. Прервать и выйти?";
    if (dialogs_.message(this, question, "Внимание", Buttons::OkCancel) != Answer::Ok)
        return false;
    // The frame being sent is finished and the port closed by the exchange
    // itself; its reply is no longer waited for, and nothing more is sent.
    runner_->dropAll();
    if (seriesWindow_)
        seriesWindow_->abandon();
    updateControls();
    return true;
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ToolTip)
        return true;
    return QWidget::eventFilter(watched, event);
}

std::shared_ptr<DeviceInterface> TMainForm::newDevice(const std::string& port) {
    return std::make_shared<Device>(port, &runner_->trace());
}

void TMainForm::setCurrentDevice(std::shared_ptr<DeviceInterface> device) {
    CurrentDevice = std::move(device);
    runner_->setDevice(CurrentDevice);
}

void TMainForm::addLog(const QString& line) { Memo1->appendPlainText(line); }

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
        setCurrentDevice(newDevice(text.toStdString()));
}

void TMainForm::FindPortButtonClick() {
    if (!CurrentDevice || runner_->running(search_))
        return;
    auto job = std::make_shared<jobs::PortSearchJob>(host_);
    search_ = runner_->start(job, [this, job](jobs::Outcome outcome) {
        if (outcome == jobs::Outcome::Done) {
            portSettingStore().write(job->foundPort());
            selectPort(job->foundPort());
        }
        updateControls();
    });
    updateControls();
}

void TMainForm::GetSerialButtonClick() {
    if (!CurrentDevice)
        return;
    auto job = std::make_shared<jobs::SerialJob>(host_);
    runner_->start(job, [this, job](jobs::Outcome outcome) {
        if (outcome == jobs::Outcome::Done)
            serialRead(job->serial());
    });
}

void TMainForm::serialRead(std::uint32_t serial) {
    lastSerial_ = serial;
    if (journalWindow_)
        journalWindow_->setThisDevice(serial);
    // One indexed query of the local file: no exchange, nothing to wait for.
    const std::optional<journal::SerialHistory> history = journal_.history(serial);
    const QString local = historyLine(history, history ? std::string() : journal_.problem());
    ServerQueries* queries = server_->queries();
    if (!queries) {
        addLog(local);
        return;
    }
    // The workshop's count when the server answers in time; this PC's when not.
    const QString instead = history ? historyLine(history, {}, HistorySource::ThisPcInstead) : local;
    auto written = std::make_shared<bool>(false);
    const auto write = [this, written](const QString& line) {
        if (!*written)
            addLog(line);
        *written = true;
    };
    using Answer = std::optional<journal::SerialHistory>;
    queries->run<Answer>(
        "history", this, [serial](ServerQueries::Link& link) { return link.server.history(serial); },
        [write, instead](Answer answer) { write(answer ? historyLine(answer, {}, HistorySource::Workshop) : instead); });
    QTimer::singleShot(kServerHistoryWaitMs, this, [write, instead] { write(instead); });
}

void TMainForm::showJournal() {
    if (!journalWindow_) {
        journalWindow_ = new JournalWindow(journal_, *server_, dialogs_, this);
        journalWindow_->openBackup = [this](const std::string& text, std::optional<std::uint32_t> serial) {
            // As the backup's file would load: its lines ending CR LF.
            openSettings(joinLinesCrLf(text), serial);
        };
        journalWindow_->parameterName = [this](const std::string& key) {
            const int i = Parameters_->IndexOfKey(key);
            return i < 0 ? QString() : ui(Parameters_->parameters()[static_cast<size_t>(i)].name).trimmed();
        };
    } else {
        journalWindow_->refresh();
    }
    journalWindow_->setThisDevice(lastSerial_);
    journalWindow_->setWindowState(journalWindow_->windowState() & ~Qt::WindowMinimized);
    journalWindow_->show();
    journalWindow_->raise();
    journalWindow_->activateWindow();
}

void TMainForm::showSeries() {
    if (!seriesWindow_) {
        SeriesWindow::Lent lent;
        lent.device = [this](const std::string& port) -> jobs::DevicePtr { return newDevice(port); };
        lent.claims = &portClaims_;
        lent.journal = &jobJournal_;
        const EmbeddedResource blow = embeddedResource("blow");
        const EmbeddedResource wave = embeddedResource("wave_list");
        lent.firmware = jobs::Carried{blow.data, blow.size};
        lent.soundBank = jobs::Carried{wave.data, wave.size};
        lent.firmwareVersion = ui(fieldText(EmbeddedInfo.firmwareVersion));
        lent.soundSize = SoundSize;
        seriesWindow_ = new SeriesWindow(std::move(lent), dialogs_, this);
    }
    seriesWindow_->setWindowState(seriesWindow_->windowState() & ~Qt::WindowMinimized);
    seriesWindow_->show();
    seriesWindow_->raise();
    seriesWindow_->activateWindow();
}

void TMainForm::GetVersionButtonClick() {
    if (CurrentDevice)
        runner_->start(std::make_shared<jobs::VersionJob>(host_));
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
    if (!CurrentDevice) {
        dialogs_.message(this, "Устройство не подключено или занято.", "Загрузка не возможна", Buttons::Ok);
        return;
    }
    auto job = std::make_shared<jobs::ReadSettingsJob>(host_);
    runner_->start(job, [this, job](jobs::Outcome outcome) {
        if (outcome != jobs::Outcome::Done)
            return;
        Parameters_->LoadSettingsText(job->text());
        if (ParametersEditForm)
            ParametersEditForm->setLoadedText(job->text());
        showEditor();
    });
}

void TMainForm::SaveReportClick() {
    if (!CurrentDevice || runner_->running(report_))
        return;
    const QString file = dialogs_.saveFile(this, "Страница HTML (*.html)", "html");
    if (file.isEmpty())
        return;
    std::vector<std::string> log;
    for (const QString& line : Memo1->toPlainText().split('\n'))
        log.push_back(line.toStdString());
    if (!log.empty() && log.back().empty())
        log.pop_back();
    const QString qt = QString("Qt %1 (собрана с %2), платформа %3")
                           .arg(qVersion(), QT_VERSION_STR, QGuiApplication::platformName());
    reportAction_->setEnabled(false);
    report_ = runner_->start(std::make_shared<jobs::ReportJob>(host_, *Parameters_, file.toStdString(),
                                                               jobs::ReportJob::Context{"Z58 Service Tool", qt.toStdString(), log}),
                             [this](jobs::Outcome) { reportAction_->setEnabled(true); });
}

void TMainForm::OpenFileButtonClick() {
    const QString file = dialogs_.openFile(this, kSettingsFileFilter, "txt");
    if (file.isEmpty())
        return;
    openSettings(readSettingsFile(file.toStdString()), serialOfBackupName(file.toStdString()));
}

void TMainForm::openSettings(const std::string& text, std::optional<std::uint32_t> fileSerial) {
    Parameters_->LoadSettingsText(text);
    if (ParametersEditForm)
        ParametersEditForm->setLoadedText(text, {true, fileSerial});
    showEditor();
}

// ---- firmware update: the job asks, backs up, uploads and offers the restart
// and the restore; the window shows it and paces its blocks with Timer1.

void TMainForm::BlowUpdateButtonClick() {
    if (!CurrentDevice || runner_->running(firmware_))
        return;
    const EmbeddedResource blow = embeddedResource("blow");
    firmware_ = runner_->start(std::make_shared<jobs::FirmwareJob>(host_, jobs::Carried{blow.data, blow.size}, *Parameters_,
                                                                   jobs::FirmwareJob::Options{}),
                               [this](jobs::Outcome) { updateControls(); });
    updateControls();
}

void TMainForm::Timer1Timer() { pacer_->fire(jobs::Pace::FirmwareTick); }

// ---- sound bank update, paced with Timer2

QString TMainForm::waveCaption() const { return "Обновить звук до " + QString::number(SoundSize); }

void TMainForm::WaveUpdateButtonClick() {
    if (!CurrentDevice)
        return;
    // A click while the upload runs asks again; OK starts over (the new job
    // takes the upload over), Cancel leaves the running one alone. The question
    // comes first, with the running upload going on meanwhile.
    const EmbeddedResource wave = embeddedResource("wave_list");
    const jobs::Runner::RunId id = runner_->start(std::make_shared<jobs::SoundJob>(host_, jobs::Carried{wave.data, wave.size}),
                                                  [this](jobs::Outcome) { updateControls(); }, sound_);
    if (runner_->running(id))
        sound_ = id;
    updateControls();
}

void TMainForm::Timer2Timer() { pacer_->fire(jobs::Pace::SoundTick); }
