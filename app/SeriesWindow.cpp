#include "SeriesWindow.h"
#include "WindowPlace.h"

#include "Dialogs.h"
#include "Embedded.h"
#include "JournalTexts.h"
#include "SeriesModel.h"
#include "SettingsFile.h"
#include "ThreadExecutor.h"
#include "TimerPacer.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QSpinBox>
#include <QSplitter>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <stdexcept>

namespace {

const char kCaption[] = "Серия";
const char kCsvFilter[] = "таблица CSV | *.csv";
constexpr int kWidth = 1120;
constexpr int kHeight = 700;
constexpr int kMaxExpected = 9999;
constexpr int kLogLines = 2000;
const QColor kProblemColour(160, 0, 0);

QString text(const std::string& utf8) { return QString::fromUtf8(utf8.data(), static_cast<int>(utf8.size())); }

QLabel* label(const QString& t, QWidget* parent) {
    auto* l = new QLabel(t, parent);
    l->setTextFormat(Qt::PlainText);
    return l;
}

QPushButton* button(const char* name, const QString& t, QWidget* parent) {
    auto* b = new QPushButton(t, parent);
    b->setObjectName(name);
    b->setAutoDefault(false);
    return b;
}

template <class W>
W* named(W* w, const char* name) {
    w->setObjectName(name);
    return w;
}

} // namespace

SeriesWindow::SeriesWindow(Lent lent, Dialogs& dialogs, QWidget* parent)
    : QWidget(parent, Qt::Window), lent_(std::move(lent)), dialogs_(dialogs), model_(embeddedText("PARAMETER_LIST")) {
    setObjectName("SeriesWindow");
    setWindowTitle(kCaption);
    resize(kWidth, kHeight);
    auto* layout = new QVBoxLayout(this);

    SetupBox = named(new QGroupBox(" Настройка серии ", this), "SetupBox");
    layout->addWidget(SetupBox);
    auto* grid = new QGridLayout(SetupBox);
    grid->setHorizontalSpacing(6);

    ReferenceEdit = named(new QLineEdit(SetupBox), "ReferenceEdit");
    ReferenceEdit->setPlaceholderText("файл, настройки которого запишутся в каждое устройство");
    ReferenceButton = button("ReferenceButton", "Выбрать…", SetupBox);
    FirmwareBox = named(new QComboBox(SetupBox), "FirmwareBox");
    FirmwareBox->addItem("обновлять до " + lent_.firmwareVersion + ", если версия старее");
    FirmwareBox->addItem("обновлять до " + lent_.firmwareVersion + " всегда (и более новую)");
    FirmwareBox->addItem("не обновлять");
    SoundCheck = named(new QCheckBox("Загружать звук до " + QString::number(lent_.soundSize), SetupBox), "SoundCheck");
    OwnerBox = named(new QComboBox(SetupBox), "OwnerBox");
    OwnerBox->addItem("оставлять у каждого устройства свои");
    OwnerBox->addItem("записывать из файла настроек");
    OwnerBox->setToolTip("PIN-код и телефоны владельца");
    ExpectedSpin = named(new QSpinBox(SetupBox), "ExpectedSpin");
    ExpectedSpin->setRange(0, kMaxExpected);
    ExpectedSpin->setSpecialValueText("не задано");
    ExpectedSpin->setToolTip("Серия закончится сама, когда начнётся столько устройств; не задано — до «Остановить»");
    SheetsEdit = named(new QLineEdit(SetupBox), "SheetsEdit");
    SheetsEdit->setPlaceholderText("не задана: листы настроек не пишутся");
    SheetsButton = button("SheetsButton", "Выбрать…", SetupBox);
    CsvEdit = named(new QLineEdit(SetupBox), "CsvEdit");
    CsvEdit->setPlaceholderText("рядом с листами: series-<дата>-<время>.csv");
    CsvButton = button("CsvButton", "Выбрать…", SetupBox);
    FailureBox = named(new QComboBox(SetupBox), "FailureBox");
    FailureBox->addItem("продолжать с другими");
    FailureBox->addItem("остановить серию");
    PortsEdit = named(new QLineEdit(SetupBox), "PortsEdit");
    PortsEdit->setPlaceholderText("все (например: COM3, COM5-COM8)");
    PortsEdit->setToolTip("Порты, с которых берутся устройства серии; порт главного окна серия не трогает");

    const auto row = [&](int r, int c, const char* caption, QWidget* field, QWidget* chooser = nullptr) {
        grid->addWidget(label(caption, SetupBox), r, c);
        if (chooser) {
            auto* both = new QHBoxLayout;
            both->addWidget(field, 1);
            both->addWidget(chooser);
            grid->addLayout(both, r, c + 1);
        } else {
            grid->addWidget(field, r, c + 1);
        }
    };
    grid->addWidget(label("Файл настроек:", SetupBox), 0, 0);
    auto* reference = new QHBoxLayout;
    reference->addWidget(ReferenceEdit, 1);
    reference->addWidget(ReferenceButton);
    grid->addLayout(reference, 0, 1, 1, 3);
    row(1, 0, "Прошивка:", FirmwareBox);
    grid->addWidget(SoundCheck, 1, 3);
    row(2, 0, "PIN и телефоны владельца:", OwnerBox);
    row(2, 2, "При ошибке устройства:", FailureBox);
    row(3, 0, "Папка для листов:", SheetsEdit, SheetsButton);
    row(3, 2, "Устройств в серии:", ExpectedSpin);
    row(4, 0, "Итог серии (CSV):", CsvEdit, CsvButton);
    row(4, 2, "Порты:", PortsEdit);
    grid->setColumnStretch(1, 3);
    grid->setColumnStretch(3, 2);

    auto* controls = new QHBoxLayout;
    layout->addLayout(controls);
    StartButton = button("StartButton", "Начать", this);
    StartButton->setToolTip("Проверить файл настроек и начать серию");
    StopButton = button("StopButton", "Остановить", this);
    StopButton->setToolTip("Новые устройства не начинаются; начатые заканчивают то, что делают");
    StateLabel = named(label("", this), "StateLabel");
    CountLabel = named(label("", this), "CountLabel");
    controls->addWidget(StartButton);
    controls->addWidget(StopButton);
    controls->addSpacing(12);
    controls->addWidget(StateLabel, 1);
    controls->addWidget(CountLabel);

    auto* split = named(new QSplitter(Qt::Vertical, this), "SeriesSplitter");
    split->setChildrenCollapsible(false);
    layout->addWidget(split, 1);
    Model = new SeriesModel(this);
    Table = named(new QTableView(split), "Table");
    Table->setModel(Model);
    Table->setItemDelegate(new SeriesBarDelegate(Table));
    Table->setSelectionBehavior(QAbstractItemView::SelectRows);
    Table->setSelectionMode(QAbstractItemView::SingleSelection);
    Table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Table->setAlternatingRowColors(true);
    Table->setWordWrap(false);
    Table->verticalHeader()->hide();
    Table->verticalHeader()->setDefaultSectionSize(Table->fontMetrics().height() + 8);
    Table->horizontalHeader()->setHighlightSections(false);
    Table->horizontalHeader()->setStretchLastSection(true);
    Table->setTextElideMode(Qt::ElideRight);
    Table->setContextMenuPolicy(Qt::CustomContextMenu);
    Log = named(new QPlainTextEdit(split), "Log");
    Log->setReadOnly(true);
    Log->setMaximumBlockCount(kLogLines);
    Log->setPlaceholderText("Здесь — ход серии: какие устройства найдены, что с ними делается, чем закончилось.");
    split->setStretchFactor(0, 4);
    split->setStretchFactor(1, 1);

    auto* bottom = new QHBoxLayout;
    layout->addLayout(bottom);
    CsvLabel = named(label("", this), "CsvLabel");
    CsvLabel->setWordWrap(true);
    CsvLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    AgainButton = button("AgainButton", "Повторить для устройства", this);
    AgainButton->setToolTip("Подготовить устройство выбранной строки ещё раз, когда серия его снова найдёт");
    AgainAction = new QAction("Повторить для устройства", this);
    AgainAction->setObjectName("AgainAction");
    bottom->addWidget(CsvLabel, 1);
    bottom->addWidget(AgainButton);

    clock_ = new QTimer(this);
    clock_->setInterval(1000);

    auto* leave = new QAction(this);
    leave->setShortcut(Qt::Key_Escape);
    addAction(leave);

    const auto handled = [this](auto f) { return [this, f] { runHandler(dialogs_, this, f); }; };
    connect(ReferenceButton, &QPushButton::clicked, this, handled([this] { ReferenceClick(); }));
    connect(SheetsButton, &QPushButton::clicked, this, handled([this] { SheetsClick(); }));
    connect(CsvButton, &QPushButton::clicked, this, handled([this] { CsvClick(); }));
    connect(StartButton, &QPushButton::clicked, this, handled([this] { StartClick(); }));
    connect(StopButton, &QPushButton::clicked, this, handled([this] { StopClick(); }));
    connect(AgainButton, &QPushButton::clicked, AgainAction, &QAction::trigger);
    connect(AgainAction, &QAction::triggered, this, handled([this] { AgainClick(); }));
    connect(Table->selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this] { updateControls(); });
    connect(Table, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        const QModelIndex index = Table->indexAt(at);
        if (!index.isValid())
            return;
        Table->selectRow(index.row());
        auto* menu = new QMenu(this);
        menu->setObjectName("RowMenu");
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->addAction(AgainAction);
        menu->popup(Table->viewport()->mapToGlobal(at));
    });
    connect(Model, &QAbstractItemModel::rowsInserted, this, [this] { fitColumns(); });
    connect(clock_, &QTimer::timeout, this, [this] { Model->tick(); });
    connect(leave, &QAction::triggered, this, &QWidget::close);

    showChoices(keptSeriesChoices());
    updateControls();
    showCounts();
    showCsv();
    fitColumns();
}

SeriesWindow::~SeriesWindow() {
    // Its runners' jobs end interrupted before the window's parts they report to go.
    series_.reset();
}

void SeriesWindow::showEvent(QShowEvent* e) {
    // The first showing: centred on the main window's screen, within it.
    if (!placed_ && !e->spontaneous()) {
        placed_ = true;
        placeOnOwnersScreen(*this);
    }
    QWidget::showEvent(e);
}

SeriesChoices SeriesWindow::choices() const {
    SeriesChoices c;
    c.reference = ReferenceEdit->text().trimmed().toStdString();
    c.firmware = FirmwareBox->currentIndex() == 1   ? jobs::FirmwarePolicy::Always
                 : FirmwareBox->currentIndex() == 2 ? jobs::FirmwarePolicy::Never
                                                    : jobs::FirmwarePolicy::Older;
    c.sound = SoundCheck->isChecked();
    c.writeOwner = OwnerBox->currentIndex() == 1;
    c.expected = ExpectedSpin->value();
    c.sheets = SheetsEdit->text().trimmed().toStdString();
    c.csv = CsvEdit->text().trimmed().toStdString();
    c.stopOnFailure = FailureBox->currentIndex() == 1;
    c.ports = PortsEdit->text().trimmed().toStdString();
    return c;
}

void SeriesWindow::showChoices(const SeriesChoices& c) {
    ReferenceEdit->setText(text(c.reference));
    FirmwareBox->setCurrentIndex(c.firmware == jobs::FirmwarePolicy::Always  ? 1
                                 : c.firmware == jobs::FirmwarePolicy::Never ? 2
                                                                             : 0);
    SoundCheck->setChecked(c.sound);
    OwnerBox->setCurrentIndex(c.writeOwner ? 1 : 0);
    ExpectedSpin->setValue(std::clamp(c.expected, 0, kMaxExpected));
    SheetsEdit->setText(text(c.sheets));
    CsvEdit->setText(text(c.csv));
    FailureBox->setCurrentIndex(c.stopOnFailure ? 1 : 0);
    PortsEdit->setText(text(c.ports));
}

void SeriesWindow::ReferenceClick() {
    const QString file = dialogs_.openFile(this, kSettingsFileFilter, "txt");
    if (!file.isEmpty())
        ReferenceEdit->setText(file);
}

void SeriesWindow::SheetsClick() {
    const QString folder = dialogs_.openFolder(this, SheetsEdit->text().trimmed());
    if (!folder.isEmpty())
        SheetsEdit->setText(folder);
}

void SeriesWindow::CsvClick() {
    const QString file = dialogs_.saveFile(this, kCsvFilter, "csv");
    if (!file.isEmpty())
        CsvEdit->setText(file);
}

void SeriesWindow::refuse(const QString& t) { dialogs_.message(this, t, kCaption, Buttons::Ok); }

void SeriesWindow::StartClick() {
    if (running())
        return;
    const SeriesChoices c = choices();
    if (c.reference.empty()) {
        refuse("Выберите файл настроек: его настройки запишутся в каждое устройство серии.");
        return;
    }
    jobs::SeriesSetup setup;
    try {
        setup.referenceText = readSettingsFile(c.reference);
    } catch (const std::runtime_error& e) {
        refuse(QString::fromUtf8(e.what()));
        return;
    }
    if (const std::string problem = jobs::checkReference(model_, setup.referenceText); !problem.empty()) {
        refuse("Файл настроек «" + text(c.reference) + "» нельзя записать в устройства серии: " + text(problem));
        return;
    }
    std::string portsProblem;
    if (!parseSeriesPorts(c.ports, setup.ports, portsProblem)) {
        refuse("Порты серии: " + text(portsProblem));
        return;
    }
    setup.referencePath = c.reference;
    setup.firmware = c.firmware;
    setup.sound = c.sound;
    setup.writeOwner = c.writeOwner;
    setup.expected = c.expected;
    setup.sheetsFolder = c.sheets;
    setup.csvPath = c.csv;
    setup.stopOnFailure = c.stopOnFailure;

    Log->clear();
    try {
        keepSeriesChoices(c);
    } catch (const std::runtime_error& e) {
        addLog("Настройка серии не сохранена: " + QString::fromUtf8(e.what()));
    }

    jobs::SeriesResources resources;
    resources.firmware = lent_.firmware;
    resources.soundBank = lent_.soundBank;
    resources.model = &model_;
    jobs::SeriesPlatform platform;
    platform.loop = &loop_;
    platform.device = lent_.device;
    platform.executor = [loop = &loop_]() -> std::unique_ptr<jobs::Executor> {
        return std::make_unique<jobs::ThreadExecutor>([loop](std::function<void()> call) { loop->post(std::move(call)); });
    };
    platform.pacer = []() -> std::unique_ptr<jobs::Pacer> { return std::make_unique<RunnerPacer>(); };
    platform.claims = lent_.claims;
    platform.journal = lent_.journal;
    // A step that throws is shown here and fails its unit; the series goes on.
    platform.guard = [this](const std::function<void()>& step) { runHandler(dialogs_, this, step); };

    // The last series has ended: its rows give way to the new one's.
    series_.reset();
    Model->clear();
    abandoned_ = false;
    csvFile_.clear();
    csvProblem_.clear();
    series_ = std::make_unique<jobs::Series>(std::move(setup), resources, std::move(platform), *this);
    series_->start();
    csvFile_ = series_->csvFile();
    clock_->start();
    updateControls();
    showCounts();
    showCsv();
}

void SeriesWindow::StopClick() {
    if (!running())
        return;
    series_->stop();  // may end it here and now, when no unit runs
    updateControls();
    showCounts();
    showCsv();
}

void SeriesWindow::AgainClick() {
    const jobs::UnitRow* row = Model->row(Table->currentIndex().row());
    if (!row || !running() || series_->stopping() || row->outcome == jobs::UnitOutcome::Running)
        return;
    series_->again(row->number);
    addLog("Устройство " + serialText(row->serial) + " (№" + QString::number(row->number) +
           ") будет подготовлено ещё раз, когда серия его снова найдёт.");
}

bool SeriesWindow::running() const { return series_ && series_->started() && !series_->ended(); }

bool SeriesWindow::uploading() const { return running() && Model->uploading(); }

void SeriesWindow::abandon() {
    if (!running())
        return;
    csvFile_ = series_->csvFile();
    csvProblem_ = series_->csvProblem();
    series_.reset();
    abandoned_ = true;
    clock_->stop();
    Model->interrupt();
    addLog("Серия прервана: начатые работы остались незаконченными.");
    updateControls();
    showCounts();
    showCsv();
}

bool SeriesWindow::closeQuery() {
    if (!running())
        return true;
    const QString question = uploading() ? "Идет обновление. Прервать серию и закрыть окно?"
                                         : "Идет серия. Прервать её и закрыть окно?";
    if (dialogs_.message(this, question, "Внимание", Buttons::OkCancel) != Answer::Ok)
        return false;
    abandon();
    return true;
}

void SeriesWindow::closeEvent(QCloseEvent* e) {
    if (runCloseQuery(dialogs_, this, [this] { return closeQuery(); }))
        e->accept();
    else
        e->ignore();
}

void SeriesWindow::unitChanged(const jobs::UnitRow& row) {
    const int before = Model->rowOf(row.number);
    const bool outcomeChanged = before < 0 || Model->row(before)->outcome != row.outcome;
    Model->update(row);
    if (outcomeChanged) {
        fitColumns();
        showCounts();
        showCsv();
        updateControls();
    }
}

void SeriesWindow::seriesLine(const std::string& line) { addLog(text(line)); }

void SeriesWindow::seriesEnded() {
    clock_->stop();
    Model->tick();
    csvFile_ = series_ ? series_->csvFile() : csvFile_;
    csvProblem_ = series_ ? series_->csvProblem() : csvProblem_;
    updateControls();
    showCounts();
    showCsv();
}

void SeriesWindow::addLog(const QString& line) { Log->appendPlainText(line); }

void SeriesWindow::fitColumns() {
    // The outcome, last, stretches over the rest: sized by its text it would
    // push the table past the window for one long reason.
    for (int c = 0; c < SeriesModel::Outcome; ++c)
        Table->resizeColumnToContents(c);
}

void SeriesWindow::updateControls() {
    const bool busy = running();
    SetupBox->setEnabled(!busy);
    StartButton->setEnabled(!busy);
    StopButton->setEnabled(busy && !series_->stopping());
    const jobs::UnitRow* row = Model->row(Table->currentIndex().row());
    AgainAction->setEnabled(busy && !series_->stopping() && row && row->outcome != jobs::UnitOutcome::Running);
    AgainButton->setEnabled(AgainAction->isEnabled());
    QString state;
    if (busy && series_->stopping())
        state = "Серия останавливается: начатые устройства заканчивают то, что делают.";
    else if (busy)
        state = "Серия идёт: подключайте устройства.";
    else if (abandoned_)
        state = "Серия прервана.";
    else if (series_)
        state = "Серия закончена.";
    StateLabel->setText(state);
}

void SeriesWindow::showCounts() {
    if (!series_ && !abandoned_) {
        CountLabel->setText(QString());
        return;
    }
    int done = 0, failed = 0, runs = 0;
    for (int r = 0; r < Model->rowCount(); ++r) {
        const jobs::UnitRow* row = Model->row(r);
        if (row->outcome == jobs::UnitOutcome::Done)
            ++done;
        else if (row->outcome == jobs::UnitOutcome::Running && !abandoned_)
            ++runs;
        else
            ++failed; // failed, stopped, or cut short with the window
    }
    QString t = "Выполнено: " + QString::number(done) + ", не выполнено: " + QString::number(failed);
    if (runs > 0)
        t += ", в работе: " + QString::number(runs);
    const int expected = series_ ? series_->setup().expected : 0;
    if (expected > 0)
        t += ", ожидается: " + QString::number(expected);
    CountLabel->setText(t);
}

void SeriesWindow::showCsv() {
    QString t;
    bool trouble = false;
    if (!series_ && !abandoned_) {
        t = "";
    } else if (csvFile_.empty()) {
        t = "Итог серии не сохраняется: не заданы ни папка для листов, ни файл CSV.";
    } else if (const std::string& problem = series_ ? series_->csvProblem() : csvProblem_; !problem.empty()) {
        t = "Итог серии не записан: " + text(problem);
        trouble = true;
    } else if (running()) {
        t = "Итог серии записывается после каждого устройства в " + text(csvFile_);
    } else {
        t = "Итог серии записан: " + text(csvFile_);
    }
    QPalette p = palette();
    if (trouble)
        p.setColor(QPalette::WindowText, kProblemColour);
    CsvLabel->setPalette(p);
    CsvLabel->setText(t);
}
