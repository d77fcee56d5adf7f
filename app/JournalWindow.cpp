#include "JournalWindow.h"
#include "WindowPlace.h"

#include "Dialogs.h"
#include "JournalModel.h"
#include "JournalTexts.h"
#include "RecordCsv.h"
#include "ServerJournal.h"
#include "ServerSetting.h"
#include "ServerQueries.h"
#include "WorkshopServer.h"

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
#include <cstdlib>
#include <stdexcept>

namespace {

const char kCaption[] = "Журнал работ";
const char kCsvFilter[] = "таблица CSV | *.csv";
const char kAll[] = "все";
constexpr int kWidth = 980;
constexpr int kHeight = 640;
constexpr int kDefaultDays = 30; // the date range first offered: the last month
const QColor kProblemColour(160, 0, 0);
const char kDateFormat[] = "dd.MM.yyyy";

const char kSavedWaiting[] = " Строка сохранена: записи ждут, пока сервер не ответит.";
const char kPasswordCaption[] = "Пароль сервера журнала";
const char kPasswordQuestion[] =
    "Сервер журнала просит пароль, а в файле паролей libpq (~/.pgpass, PGPASSFILE или passfile=) его нет.\n"
    "Пароль хранится только в памяти программы, пока она работает.";

// What a check of the server found.
struct Checked {
    bool connected = false, needsPassword = false;
    std::string problem;
};

// An export of the server's records: written, or why not.
struct Exported {
    bool written = false;
    std::string problem;
};

std::string dateText(const QDate& d) { return d.toString("yyyy-MM-dd").toStdString(); }

QLabel* label(const QString& text, QWidget* parent) {
    auto* l = new QLabel(text, parent);
    l->setTextFormat(Qt::PlainText);
    return l;
}

} // namespace

JournalWindow::JournalWindow(journal::JournalStore& store, WorkshopServer& server, Dialogs& dialogs, QWidget* parent)
    : QWidget(parent, Qt::Window), store_(store), server_(server), dialogs_(dialogs) {
    setObjectName("JournalWindow");
    setWindowTitle(kCaption);
    resize(kWidth, kHeight);

    auto* layout = new QVBoxLayout(this);
    auto* serverRow = new QHBoxLayout;
    layout->addLayout(serverRow);
    ServerEdit = new QLineEdit(QString::fromStdString(server_.conninfo()), this);
    ServerEdit->setObjectName("ServerEdit");
    ServerEdit->setPlaceholderText("не задан: записи только на этом компьютере");
    ServerEdit->setToolTip("Строка подключения libpq к серверу журнала мастерской, например\n"
                           "host=journal.example dbname=z58 user=pc1 sslmode=verify-full sslrootcert=C:/z58/root.crt\n"
                           "Пароль — в файле паролей libpq, не здесь. Пустая строка: журнал только на этом компьютере.");
    ServerEdit->setClearButtonEnabled(true);
    ServerEdit->setCursorPosition(0); // the host first, where a long string begins
    CheckButton = new QPushButton("Проверить", this);
    CheckButton->setObjectName("CheckButton");
    CheckButton->setToolTip("Сохранить строку и подключиться к серверу журнала");
    CheckButton->setAutoDefault(false);
    serverRow->addWidget(label("Сервер журнала:", this));
    serverRow->addWidget(ServerEdit, 1);
    serverRow->addWidget(CheckButton);
    ServerStatus = label("", this);
    ServerStatus->setObjectName("ServerStatus");
    ServerStatus->setWordWrap(true);
    ServerStatus->setTextInteractionFlags(Qt::TextSelectableByMouse);
    ServerStatus->hide();
    layout->addWidget(ServerStatus);
    if (const char* env = std::getenv(journal::kServerEnvironment); env && *env)
        showStatus(QString("Действует строка из переменной окружения ") + journal::kServerEnvironment +
                       " (она важнее сохранённой).",
                   false);

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
    ServerNote = label("", this);
    ServerNote->setObjectName("ServerNote");
    ServerNote->setPalette(warn);
    ServerNote->setWordWrap(true);
    ServerNote->setTextInteractionFlags(Qt::TextSelectableByMouse);
    ServerNote->hide();
    layout->addWidget(ServerNote);

    auto* split = new QSplitter(Qt::Vertical, this);
    split->setObjectName("JournalSplitter");
    split->setChildrenCollapsible(false);
    layout->addWidget(split, 1);
    Model = new JournalModel(store_, this);
    Model->setServer(&server_);
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
    connect(Model, &JournalModel::serverRead, this, handled([this] { serverRead(); }));
    connect(&server_, &WorkshopServer::changed, this, handled([this] { serverChanged(); }));
    connect(CheckButton, &QPushButton::clicked, this, handled([this] { CheckClick(); }));
    connect(ServerEdit, &QLineEdit::returnPressed, this, handled([this] { CheckClick(); }));
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
        placeOnOwnersScreen(*this);
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

bool JournalWindow::waiting() const { return checking_ || Model->loading() || exporting_ || finding_; }

void JournalWindow::applyFilter(bool askServer) {
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
    ExportButton->setEnabled(note.isEmpty() && !exporting_ &&
                             (store_.access() != journal::JournalAccess::Unavailable || server_.isSet()));
    if (!note.isEmpty())
        return;

    const std::string keep = selected_ ? selected_->id : std::string();
    const bool read = Model->setFilter(f, askServer && !checking_);
    Table->resizeColumnsToContents();
    showProblem(read);
    showServerNote();
    showCount();
    if (const int row = keep.empty() ? -1 : Model->rowOf(keep); row >= 0)
        Table->selectRow(row);
    showSelected();
}

void JournalWindow::serverRead() {
    const std::string keep = selected_ ? selected_->id : std::string();
    Table->resizeColumnsToContents();
    showProblem(true);
    showServerNote();
    showCount();
    if (const int row = keep.empty() ? -1 : Model->rowOf(keep); row >= 0 && row != Table->currentIndex().row())
        Table->selectRow(row);
    else if (row < 0 || !selected_)
        showSelected();
    // A password libpq's file does not give: asked once for each server, unless a check asks again.
    if (Model->serverNeedsPassword() && isVisible() && asked_.insert(server_.conninfo()).second)
        askPassword();
}

void JournalWindow::serverChanged() {
    // What was asked of the last server goes unanswered.
    Model->forgetServer();
    ++find_;
    exporting_ = finding_ = false;
    if (ownChange_)
        return;
    checking_ = false;
    ServerEdit->setText(QString::fromStdString(server_.conninfo()));
    ServerEdit->setCursorPosition(0);
    applyFilter();
}

void JournalWindow::showServerNote() {
    const bool fallback = server_.isSet() && !Model->serverProblem().empty();
    ServerNote->setText(fallback ? serverFallbackLine(Model->serverProblem(), store_.waitingCount(), store_.setAsideCount())
                                 : QString());
    ServerNote->setVisible(fallback);
}

void JournalWindow::showStatus(const QString& text, bool trouble) {
    QPalette p = palette();
    if (trouble)
        p.setColor(QPalette::WindowText, kProblemColour);
    ServerStatus->setPalette(p);
    ServerStatus->setText(text);
    ServerStatus->setVisible(!text.isEmpty());
}

void JournalWindow::CheckClick() {
    const std::string conninfo = ServerEdit->text().trimmed().toStdString();
    if (conninfo.empty()) {
        try {
            journal::keepJournalServer({});
        } catch (const std::runtime_error& e) {
            showStatus(QString::fromUtf8(e.what()), true);
            return;
        }
        ++check_;
        checking_ = false;
        server_.use({}); // the window reads this PC's records again (serverChanged)
        showStatus("Сервер журнала не задан: записи остаются только на этом компьютере.", false);
        return;
    }
    // The same checks and words as z58ctl journal server.
    if (const std::string bad = journal::ServerJournal::parseProblem(conninfo); !bad.empty()) {
        showStatus(QString::fromStdString("Строка подключения неверна: " + bad), true);
        return;
    }
    if (journal::ServerJournal::holdsPassword(conninfo)) {
        showStatus("Пароль в настройках программы не хранится: уберите password= из строки и запишите его в файл "
                   "паролей libpq (~/.pgpass, PGPASSFILE или passfile=).",
                   true);
        return;
    }
    try {
        journal::keepJournalServer(conninfo);
    } catch (const std::runtime_error& e) {
        showStatus(QString::fromUtf8(e.what()), true);
        return;
    }
    if (const std::string warning = journal::ServerJournal::securityWarning(conninfo);
        !warning.empty() && warned_.insert(conninfo).second)
        dialogs_.message(this, QString::fromStdString(warning), "Сервер журнала", Buttons::Ok);
    // A password typed for this server stays with it.
    startCheck(conninfo, conninfo == server_.conninfo() ? server_.password() : std::string());
}

void JournalWindow::startCheck(const std::string& conninfo, const std::string& password) {
    ownChange_ = true;
    server_.use(conninfo, password);
    ownChange_ = false;
    checking_ = true;
    const unsigned check = ++check_;
    showStatus("Подключение к серверу журнала…", false);
    applyFilter(false); // this PC's rows meanwhile
    server_.queries()->run<Checked>(
        "check", this,
        [](ServerQueries::Link& link) {
            link.server.disconnect();
            Checked c;
            c.connected = link.server.connect();
            c.needsPassword = link.server.needsPassword();
            c.problem = link.server.problem();
            return c;
        },
        [this, check, conninfo, password](Checked c) {
            runHandler(dialogs_, this, [&] {
                if (check != check_)
                    return;
                checking_ = false;
                if (c.connected) {
                    showStatus("Сервер журнала отвечает.", false);
                    applyFilter();
                    return;
                }
                showStatus(QString::fromStdString(c.problem + kSavedWaiting), true);
                if (c.needsPassword)
                    asked_.insert(conninfo); // asked here, not again by the read that follows
                Model->setServerProblem(c.problem, c.needsPassword);
                if (c.needsPassword) {
                    askPassword();
                } else if (!password.empty()) {
                    // Not kept unless a connection took it: the next check asks again.
                    ownChange_ = true;
                    server_.use(conninfo);
                    ownChange_ = false;
                }
            });
        });
}

bool JournalWindow::askPassword() {
    QString typed;
    if (!dialogs_.password(this, kPasswordQuestion, kPasswordCaption, typed) || typed.isEmpty())
        return false;
    startCheck(server_.conninfo(), typed.toStdString());
    return true;
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
    QString text = Model->complete() ? "Записей: " + QString::number(n)
                                     : "Показано записей: " + QString::number(n) + ", более ранние — при прокрутке вниз";
    if (server_.isSet() && Model->fromServer())
        text += " (все компьютеры мастерской)";
    else if (server_.isSet())
        text += " (этот компьютер)";
    if (const std::size_t refused = Model->refusedRows())
        text += ", из них не принято сервером: " + QString::number(refused);
    if (Model->loading())
        text += ". Читаются записи с сервера журнала…";
    CountLabel->setText(text);
}

void JournalWindow::showSelected() {
    const journal::JobRecord* listed = Model->record(Table->currentIndex().row());
    selected_.reset();
    const unsigned find = ++find_;
    finding_ = false;
    OpenBackupButton->setEnabled(false);
    if (!listed) {
        Details->setPlainText(QString());
        return;
    }
    // This PC's record from its own journal: with its backup, and why the server refused it.
    selected_ = store_.find(listed->id);
    if (selected_) {
        Details->setPlainText(recordDetails(*selected_, parameterName));
        OpenBackupButton->setEnabled(!selected_->backupText.empty() && openBackup);
        return;
    }
    if (!Model->fromServer() || !server_.queries()) {
        Details->setPlainText(QString::fromStdString(store_.problem().empty() ? "Запись не найдена в журнале."
                                                                              : store_.problem()));
        return;
    }
    // Another PC's: as listed, and its backup from the server.
    selected_ = *listed;
    Details->setPlainText(recordDetails(*listed, parameterName));
    if (listed->backupFile.empty())
        return;
    Details->appendPlainText("Резервная копия читается с сервера журнала…");
    finding_ = true;
    const std::string id = listed->id;
    using Found = std::pair<std::optional<journal::JobRecord>, std::string>;
    server_.queries()->run<Found>(
        "find", this,
        [id](ServerQueries::Link& link) {
            std::optional<journal::JobRecord> r = link.server.find(id);
            return Found(std::move(r), link.server.problem());
        },
        [this, find](Found found) {
            if (find != find_)
                return;
            finding_ = false;
            if (!found.first) {
                Details->setPlainText(recordDetails(*selected_, parameterName) + "\n" +
                                      QString::fromStdString(found.second.empty() ? "Записи больше нет на сервере журнала."
                                                                                  : found.second));
                return;
            }
            selected_ = std::move(found.first);
            Details->setPlainText(recordDetails(*selected_, parameterName));
            OpenBackupButton->setEnabled(!selected_->backupText.empty() && openBackup);
        });
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
    const auto saved = [this, file] {
        dialogs_.message(this, "Записи журнала сохранены в файл:\n" + file, "Экспорт журнала", Buttons::Ok);
    };
    if (!Model->fromServer() || !server_.queries()) {
        try {
            journal::exportCsv(store_, Model->filter(), file.toStdString(), journal::CsvStyle::ExcelRussian);
        } catch (const std::runtime_error& e) {
            dialogs_.message(this, QString::fromUtf8(e.what()), "Ошибка", Buttons::Ok);
            return;
        }
        saved();
        return;
    }
    // The workshop's records, as the table shows them: read and written off
    // this thread, each batch of the server's rows written as it comes.
    exporting_ = true;
    ExportButton->setEnabled(false);
    const journal::RecordFilter filter = Model->filter();
    const std::string path = file.toStdString();
    server_.queries()->run<Exported>(
        "export", this,
        [filter, path](ServerQueries::Link& link) {
            Exported out;
            try {
                journal::exportCsv(
                    [&](const std::function<bool(const journal::JobRecord&)>& each, std::string& problem) {
                        ServerTrouble trouble;
                        const bool read = eachWorkshopRecord(link, filter, each, trouble);
                        problem = trouble.problem;
                        return read;
                    },
                    path, journal::CsvStyle::ExcelRussian);
                out.written = true;
            } catch (const std::runtime_error& e) {
                out.problem = e.what();
            }
            return out;
        },
        [this, saved](Exported out) {
            runHandler(dialogs_, this, [&] {
                exporting_ = false;
                ExportButton->setEnabled(!FilterNote->isVisible());
                if (!out.written)
                    dialogs_.message(this, QString::fromStdString(out.problem), "Ошибка", Buttons::Ok);
                else
                    saved();
            });
        });
}
