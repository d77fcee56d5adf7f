#include "JournalWindow.h"

#include "Dialogs.h"
#include "JournalModel.h"
#include "JournalTexts.h"
#include "RecordCsv.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QSplitter>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>
#include <stdexcept>

namespace {

const char kCaption[] = "Журнал работ";
const char kCsvFilter[] = "таблица CSV | *.csv";
const char kAll[] = "все";
constexpr int kWidth = 980;
constexpr int kHeight = 640;
constexpr int kScreenMargin = 40;
constexpr int kDefaultDays = 30; // the date range first offered: the last month
const QColor kProblemColour(160, 0, 0);
const char kDateFormat[] = "dd.MM.yyyy";

std::string dateText(const QDate& d) { return d.toString("yyyy-MM-dd").toStdString(); }

QLabel* label(const QString& text, QWidget* parent) {
    auto* l = new QLabel(text, parent);
    l->setTextFormat(Qt::PlainText);
    return l;
}

} // namespace

JournalWindow::JournalWindow(journal::JournalStore& store, Dialogs& dialogs, QWidget* parent)
    : QWidget(parent, Qt::Window), store_(store), dialogs_(dialogs) {
    setObjectName("JournalWindow");
    setWindowTitle(kCaption);
    resize(kWidth, kHeight);

    auto* layout = new QVBoxLayout(this);
    auto* filters = new QGridLayout;
    filters->setHorizontalSpacing(6);
    layout->addLayout(filters);

    SerialEdit = new QLineEdit(this);
    SerialEdit->setObjectName("SerialEdit");
    SerialEdit->setPlaceholderText(kAll);
    SerialEdit->setClearButtonEnabled(true);
    SerialEdit->setMaxLength(16);
    ThisDeviceButton = new QPushButton("Это устройство", this);
    ThisDeviceButton->setObjectName("ThisDeviceButton");
    ThisDeviceButton->setAutoDefault(false);
    ThisDeviceButton->setEnabled(false);
    ThisDeviceButton->setToolTip("Сначала прочитайте серийный номер в главном окне");
    KindBox = new QComboBox(this);
    KindBox->setObjectName("KindBox");
    KindBox->addItem(kAll, -1);
    for (journal::JobKind k : journal::kAllKinds)
        KindBox->addItem(kindText(k), static_cast<int>(k));
    OutcomeBox = new QComboBox(this);
    OutcomeBox->setObjectName("OutcomeBox");
    OutcomeBox->addItem(kAll, -1);
    for (journal::JobOutcome o : journal::kAllOutcomes)
        OutcomeBox->addItem(outcomeText(o), static_cast<int>(o));

    DateCheck = new QCheckBox("Только даты с", this);
    DateCheck->setObjectName("DateCheck");
    const QDate today = QDate::currentDate();
    FromDate = new QDateEdit(today.addDays(-kDefaultDays), this);
    FromDate->setObjectName("FromDate");
    ToDate = new QDateEdit(today, this);
    ToDate->setObjectName("ToDate");
    for (QDateEdit* d : {FromDate, ToDate}) {
        d->setDisplayFormat(kDateFormat);
        d->setCalendarPopup(true);
        d->setEnabled(false);
    }

    filters->addWidget(label("Серийный номер:", this), 0, 0);
    filters->addWidget(SerialEdit, 0, 1);
    filters->addWidget(ThisDeviceButton, 0, 2);
    filters->addWidget(label("Работа:", this), 0, 3);
    filters->addWidget(KindBox, 0, 4);
    filters->addWidget(label("Результат:", this), 0, 5);
    filters->addWidget(OutcomeBox, 0, 6);
    filters->setColumnStretch(7, 1);
    auto* dates = new QHBoxLayout;
    dates->addWidget(DateCheck);
    dates->addWidget(FromDate);
    dates->addWidget(label("по", this));
    dates->addWidget(ToDate);
    dates->addStretch(1);
    filters->addLayout(dates, 1, 0, 1, 8);

    FilterNote = label("", this);
    FilterNote->setObjectName("FilterNote");
    QPalette warn = FilterNote->palette();
    warn.setColor(QPalette::WindowText, kProblemColour);
    FilterNote->setPalette(warn);
    FilterNote->setWordWrap(true);
    FilterNote->hide();
    layout->addWidget(FilterNote);
    ProblemLabel = label("", this);
    ProblemLabel->setObjectName("ProblemLabel");
    ProblemLabel->setPalette(warn);
    ProblemLabel->setWordWrap(true);
    ProblemLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    ProblemLabel->hide();
    layout->addWidget(ProblemLabel);

    auto* split = new QSplitter(Qt::Vertical, this);
    split->setObjectName("JournalSplitter");
    split->setChildrenCollapsible(false);
    layout->addWidget(split, 1);
    Model = new JournalModel(store_, this);
    Table = new QTableView(split);
    Table->setObjectName("Table");
    Table->setModel(Model);
    Table->setSelectionBehavior(QAbstractItemView::SelectRows);
    Table->setSelectionMode(QAbstractItemView::SingleSelection);
    Table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Table->setAlternatingRowColors(true);
    Table->setWordWrap(false);
    Table->setSortingEnabled(false); // newest first, as the journal gives them
    Table->verticalHeader()->hide();
    Table->verticalHeader()->setDefaultSectionSize(Table->fontMetrics().height() + 6);
    Table->horizontalHeader()->setStretchLastSection(true);
    Table->horizontalHeader()->setHighlightSections(false);
    Details = new QPlainTextEdit(split);
    Details->setObjectName("Details");
    Details->setReadOnly(true);
    Details->setPlaceholderText("Выберите запись: здесь будут её подробности, список изменений и резервная копия.");
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);

    auto* bottom = new QHBoxLayout;
    layout->addLayout(bottom);
    CountLabel = label("", this);
    CountLabel->setObjectName("CountLabel");
    bottom->addWidget(CountLabel, 1);
    OpenBackupButton = new QPushButton("Открыть копию настроек", this);
    OpenBackupButton->setObjectName("OpenBackupButton");
    OpenBackupButton->setToolTip("Загрузить резервную копию этой записи в редактор параметров");
    OpenBackupButton->setEnabled(false);
    OpenBackupButton->setAutoDefault(false);
    ExportButton = new QPushButton("Экспорт в CSV…", this);
    ExportButton->setObjectName("ExportButton");
    ExportButton->setToolTip("Сохранить отобранные записи таблицей для Excel");
    ExportButton->setAutoDefault(false);
    bottom->addWidget(OpenBackupButton);
    bottom->addWidget(ExportButton);

    auto* again = new QAction(this);
    again->setShortcut(QKeySequence::Refresh);
    addAction(again);
    auto* leave = new QAction(this);
    leave->setShortcut(Qt::Key_Escape);
    addAction(leave);

    const auto handled = [this](auto f) { return [this, f] { runHandler(dialogs_, this, f); }; };
    connect(SerialEdit, &QLineEdit::textChanged, this, handled([this] { applyFilter(); }));
    connect(ThisDeviceButton, &QPushButton::clicked, this, handled([this] {
                if (thisDevice_)
                    SerialEdit->setText(serialText(*thisDevice_));
            }));
    connect(KindBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this, handled([this] { applyFilter(); }));
    connect(OutcomeBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this, handled([this] { applyFilter(); }));
    connect(DateCheck, &QCheckBox::toggled, this, handled([this] {
                FromDate->setEnabled(DateCheck->isChecked());
                ToDate->setEnabled(DateCheck->isChecked());
                applyFilter();
            }));
    connect(FromDate, &QDateEdit::dateChanged, this, handled([this] { applyFilter(); }));
    connect(ToDate, &QDateEdit::dateChanged, this, handled([this] { applyFilter(); }));
    connect(Table->selectionModel(), &QItemSelectionModel::currentRowChanged, this, handled([this] { showSelected(); }));
    connect(Model, &QAbstractItemModel::rowsInserted, this, [this] { showCount(); });
    connect(Model, &JournalModel::readFailed, this, [this] { showProblem(false); });
    connect(OpenBackupButton, &QPushButton::clicked, this, handled([this] { OpenBackupClick(); }));
    connect(ExportButton, &QPushButton::clicked, this, handled([this] { ExportClick(); }));
    connect(again, &QAction::triggered, this, handled([this] { refresh(); }));
    connect(leave, &QAction::triggered, this, &QWidget::close);

    applyFilter();
}

void JournalWindow::showEvent(QShowEvent* e) {
    // The first showing: centred on the main window's screen, within it.
    if (!placed_ && !e->spontaneous()) {
        placed_ = true;
        QScreen* screen = parentWidget() ? parentWidget()->screen() : QGuiApplication::primaryScreen();
        if (screen) {
            const QRect room = screen->availableGeometry().adjusted(kScreenMargin, kScreenMargin, -kScreenMargin, -kScreenMargin);
            resize(std::min(width(), room.width()), std::min(height(), room.height()));
            move(room.center() - rect().center());
        }
    }
    QWidget::showEvent(e);
}

void JournalWindow::setThisDevice(std::optional<std::uint32_t> serial) {
    thisDevice_ = serial;
    ThisDeviceButton->setEnabled(serial.has_value());
    ThisDeviceButton->setToolTip(serial ? "Серийный номер, прочитанный последним: " + serialText(*serial)
                                        : QString("Сначала прочитайте серийный номер в главном окне"));
}

void JournalWindow::refresh() { applyFilter(); }

void JournalWindow::applyFilter() {
    journal::RecordFilter f;
    QString note;
    if (!parseSerial(SerialEdit->text(), f.serial))
        note = "«" + SerialEdit->text().trimmed() +
               "» — не серийный номер: нужно целое число от -2147483648 до 4294967295.";
    if (const int k = KindBox->currentData().toInt(); k >= 0)
        f.kind = static_cast<journal::JobKind>(k);
    if (const int o = OutcomeBox->currentData().toInt(); o >= 0)
        f.outcome = static_cast<journal::JobOutcome>(o);
    if (DateCheck->isChecked()) {
        if (FromDate->date() > ToDate->date())
            note += QString(note.isEmpty() ? "" : " ") + "Начальная дата позже конечной.";
        f.since = dateText(FromDate->date());
        f.until = dateText(ToDate->date());
    }
    FilterNote->setText(note);
    FilterNote->setVisible(!note.isEmpty());
    // What is listed stays as it was: an export now would not be what the filters say.
    ExportButton->setEnabled(note.isEmpty() && store_.access() != journal::JournalAccess::Unavailable);
    if (!note.isEmpty())
        return;

    const std::string keep = selected_ ? selected_->id : std::string();
    const bool read = Model->setFilter(f);
    Table->resizeColumnsToContents();
    showProblem(read);
    showCount();
    if (const int row = keep.empty() ? -1 : Model->rowOf(keep); row >= 0)
        Table->selectRow(row);
    showSelected();
}

void JournalWindow::showProblem(bool read) {
    const bool trouble = !read || store_.access() != journal::JournalAccess::Writable;
    QString text = QString::fromStdString(store_.problem());
    if (trouble && text.isEmpty())
        text = "Журнал «" + QString::fromStdString(store_.path()) + "» не читается.";
    ProblemLabel->setText(trouble ? text : QString());
    ProblemLabel->setVisible(trouble);
}

void JournalWindow::showCount() {
    const int n = Model->rowCount();
    CountLabel->setText(Model->complete() ? "Записей: " + QString::number(n)
                                          : "Показано записей: " + QString::number(n) + ", более ранние — при прокрутке вниз");
}

void JournalWindow::showSelected() {
    const journal::JobRecord* listed = Model->record(Table->currentIndex().row());
    selected_.reset();
    if (listed)
        selected_ = store_.find(listed->id);
    if (listed && !selected_)
        Details->setPlainText(QString::fromStdString(store_.problem().empty() ? "Запись не найдена в журнале."
                                                                              : store_.problem()));
    else
        Details->setPlainText(selected_ ? recordDetails(*selected_, parameterName) : QString());
    OpenBackupButton->setEnabled(selected_ && !selected_->backupText.empty() && openBackup);
}

void JournalWindow::OpenBackupClick() {
    if (!selected_ || selected_->backupText.empty() || !openBackup)
        return;
    // A copy: loading the editor may refresh this window.
    const journal::JobRecord record = *selected_;
    openBackup(record.backupText, record.serial);
}

void JournalWindow::ExportClick() {
    const QString file = dialogs_.saveFile(this, kCsvFilter, "csv");
    if (file.isEmpty())
        return;
    try {
        journal::exportCsv(store_, Model->filter(), file.toStdString(), journal::CsvStyle::ExcelRussian);
    } catch (const std::runtime_error& e) {
        dialogs_.message(this, QString::fromUtf8(e.what()), "Ошибка", Buttons::Ok);
        return;
    }
    dialogs_.message(this, "Записи журнала сохранены в файл:\n" + file, "Экспорт журнала", Buttons::Ok);
}
