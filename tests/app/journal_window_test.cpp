// The journal window on shown windows: reached from the main window by its
// button and Ctrl+J, filtered by typing, a record's backup opened in the
// editor and sent, the export read back, and journals that cannot be written.
#include "ChangesView.h"
#include "DataFolder.h"
#include "EmulatorProcess.h"
#include "FakeDialogs.h"
#include "MainButtons.h"
#include "JobRecord.h"
#include "JournalModel.h"
#include "JournalStore.h"
#include "JournalTexts.h"
#include "JournalWindow.h"
#include "ParametrsEdit.h"
#include "PortSettingStore.h"
#include "TempDir.h"
#include "WaitFor.h"
#include "WindowDriving.h"
#include "Z58main.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QTableWidget>
#include <QTreeView>
#include <filesystem>
#include <fstream>
#include <cstdio>
#include <gtest/gtest.h>
#include <map>
#include <sqlite3.h>

using journal::JobKind;
using journal::JobOutcome;
using journal::JobRecord;

namespace {

const journal::Workplace kWorkshop{"MASTERSKAYA-2", "ivanov", "z58config", "1.1.0"};

// A record as a job of that kind leaves it, started at the given local time.
JobRecord record(JobKind kind, JobOutcome outcome, std::optional<std::uint32_t> serial, const std::string& started) {
    JobRecord r = journal::newRecord(kind, kWorkshop, "COM7");
    journal::finishRecord(r, outcome, outcome == JobOutcome::Failed ? -2 : 0,
                          outcome == JobOutcome::Failed ? "Устройство не ответило" : "");
    r.started = started;
    r.ended = started;
    r.serial = serial;
    r.deviceType = "QV_r2";
    r.firmwareBefore = "001.050";
    if (kind == JobKind::Firmware)
        r.firmwareAfter = "001.083";
    return r;
}

std::string at(int day, int hour, int minute = 0) {
    char text[40];
    std::snprintf(text, sizeof text, "2026-11-%02dT%02d:%02d:30.000+03:00", day, hour, minute);
    return text;
}

struct JournalWindowTest : ::testing::Test, IsolatedSetup {
    FakeDialogs dialogs;

    static void write(TMainForm& f, std::vector<JobRecord> records) {
        ASSERT_TRUE(f.journalStore().write(records)) << f.journalStore().problem();
    }
    static JournalWindow& open(TMainForm& f) {
        f.activateWindow();
        EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == &f; }, 3000));
        QTest::keyClick(&f, Qt::Key_J, Qt::ControlModifier);
        JournalWindow* w = f.journalWindow();
        [&] {
            ASSERT_NE(w, nullptr) << "Ctrl+J opens the journal";
            ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
            ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == w; }, 3000)) << "in front";
        }();
        return *w;
    }
    static QStringList column(const JournalWindow& w, int c) {
        QStringList out;
        for (int r = 0; r < w.Model->rowCount(); ++r)
            out << w.Model->index(r, c).data().toString();
        return out;
    }
    static void clickRow(JournalWindow& w, int row) {
        w.Table->scrollTo(w.Model->index(row, 0));
        QTest::mouseClick(w.Table->viewport(), Qt::LeftButton, {}, w.Table->visualRect(w.Model->index(row, 0)).center());
    }
    static void retype(QLineEdit* edit, const char* text) {
        QTest::mouseClick(edit, Qt::LeftButton);
        QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(edit, Qt::Key_Delete);
        QTest::keyClicks(edit, text);
    }
    static QStringList log(TMainForm& f) { return f.Memo1->toPlainText().split('\n', Qt::SkipEmptyParts); }
    std::string journalPath() const { return (std::filesystem::u8path(dataFolder()) / "journal.sqlite").u8string(); }
};

} // namespace

TEST(journal_texts, serial_numbers_typed_as_stored_or_as_the_log_prints_them) {
    std::optional<std::uint32_t> s;
    EXPECT_TRUE(parseSerial("", s));
    EXPECT_FALSE(s);
    EXPECT_TRUE(parseSerial(" 305419896 ", s));
    EXPECT_EQ(s, 305419896u);
    EXPECT_TRUE(parseSerial("4294967295", s));
    EXPECT_EQ(s, 4294967295u);
    EXPECT_TRUE(parseSerial("-2147483648", s)) << "the log's form of 2147483648";
    EXPECT_EQ(s, 2147483648u);
    EXPECT_TRUE(parseSerial("-1", s));
    EXPECT_EQ(s, 4294967295u);
    EXPECT_EQ(serialText(2147483648u), "-2147483648") << "as the main window prints it";
    for (const char* bad : {"4294967296", "-2147483649", "-0", "-", "12a", "1 2", "+5", "99999999999", "１２"})
        EXPECT_FALSE(parseSerial(bad, s)) << bad;
}

TEST(journal_texts, record_counts_in_russian) {
    const std::map<std::size_t, const char*> expected = {
        {1, "1 запись"},    {2, "2 записи"},     {4, "4 записи"},     {5, "5 записей"},    {11, "11 записей"},
        {12, "12 записей"}, {14, "14 записей"},  {21, "21 запись"},   {22, "22 записи"},   {25, "25 записей"},
        {101, "101 запись"}, {111, "111 записей"}, {112, "112 записей"}, {1000, "1000 записей"}};
    for (const auto& [n, text] : expected)
        EXPECT_EQ(recordCount(n), QString(text)) << n;
    EXPECT_EQ(timeText("2026-12-09T10:15:30.123+03:00"), "2026-12-09 10:15:30");
    EXPECT_EQ(timeText("2026-12-09T10:15:30.123-05:30", false), "2026-12-09 10:15") << "the time as the clock there read";
    EXPECT_EQ(timeText("вчера"), "вчера") << "not a time: shown as it stands";
}

TEST(journal_texts, whose_records_a_line_counts_and_why_the_servers_are_not_shown) {
    journal::SerialHistory h;
    h.count = 2;
    h.lastStarted = "2026-12-09T10:15:30.123+03:00";
    h.lastKind = JobKind::Backup;
    h.lastOutcome = JobOutcome::Failed;
    EXPECT_EQ(historyLine(h, {}), "Журнал: 2 записи, последняя 2026-12-09 10:15, Резервная копия, ошибка");
    EXPECT_EQ(historyLine(h, {}, HistorySource::Workshop),
              "Журнал мастерской: 2 записи, последняя 2026-12-09 10:15, Резервная копия, ошибка");
    h.count = 0;
    EXPECT_EQ(historyLine(h, {}, HistorySource::ThisPcInstead),
              "Журнал этого компьютера (сервер не ответил): записей об этом устройстве нет");
    EXPECT_EQ(historyLine(std::nullopt, "Журнал «x» не читается.", HistorySource::ThisPcInstead), "Журнал «x» не читается.");

    EXPECT_EQ(serverFallbackLine("Сервер журнала недоступен: timeout expired", 3u),
              "Сервер журнала недоступен: timeout expired. Показаны записи этого компьютера; ждут отправки на сервер: 3.");
    EXPECT_EQ(serverFallbackLine("Журнал на сервере не читается: нет прав.", std::nullopt),
              "Журнал на сервере не читается: нет прав. Показаны записи этого компьютера.")
        << "no count when this PC's journal cannot say";

    JobRecord r = record(JobKind::SettingsWrite, JobOutcome::Done, 5u, at(1, 9));
    EXPECT_FALSE(recordDetails(r, {}).contains("не принял"));
    r.refused = "value too long for type character varying(16)";
    EXPECT_TRUE(recordDetails(r, {}).contains(
        "\nСервер журнала не принял запись, она отложена: value too long for type character varying(16)\n"));
}

// Ctrl+J and the button open one non-modal window, newest first; every button
// of the main window stays where it was, with its text.
TEST_F(JournalWindowTest, ctrl_j_and_the_button_open_one_window_and_the_main_buttons_keep_their_places) {
    TMainForm f(dialogs);
    shown(f);
    expectMainPartsKept(f, f.JournalButton);
    EXPECT_EQ(f.JournalButton->text(), "Журнал работ");

    write(f, {record(JobKind::SettingsRead, JobOutcome::Done, 305419896u, at(2, 9)),
              record(JobKind::Firmware, JobOutcome::Failed, 305419896u, at(3, 11)),
              record(JobKind::Backup, JobOutcome::Done, 2147483648u, at(1, 8))});
    JournalWindow& w = open(f);
    EXPECT_EQ(w.windowTitle(), "Журнал работ");
    EXPECT_FALSE(w.isModal());
    EXPECT_TRUE(f.isEnabled()) << "the main window goes on working";
    EXPECT_EQ(column(w, JournalModel::Time),
              QStringList({"2026-11-03 11:00:30", "2026-11-02 09:00:30", "2026-11-01 08:00:30"}))
        << "newest first";
    EXPECT_EQ(column(w, JournalModel::Serial), QStringList({"305419896", "305419896", "-2147483648"}));
    EXPECT_EQ(column(w, JournalModel::Kind), QStringList({"Прошивка", "Чтение настроек", "Резервная копия"}));
    EXPECT_EQ(column(w, JournalModel::Outcome), QStringList({"Ошибка", "Выполнено", "Выполнено"}));
    EXPECT_EQ(column(w, JournalModel::Firmware), QStringList({"001.050 → 001.083", "001.050", "001.050"}));
    EXPECT_EQ(column(w, JournalModel::Type).first(), "Z58 (r2)");
    EXPECT_EQ(column(w, JournalModel::Pc).first(), "MASTERSKAYA-2");
    EXPECT_EQ(column(w, JournalModel::User).first(), "ivanov");
    EXPECT_EQ(w.Model->headerData(JournalModel::Outcome, Qt::Horizontal).toString(), "Результат");
    EXPECT_EQ(w.CountLabel->text(), "Записей: 3");
    EXPECT_FALSE(w.ProblemLabel->isVisible());

    // A job's record written while the window is open comes in with the next Ctrl+J.
    write(f, {record(JobKind::Sound, JobOutcome::Done, 7u, at(4, 10))});
    JournalWindow& again = open(f);
    EXPECT_EQ(&again, &w) << "one window";
    EXPECT_TRUE(w.isActiveWindow()) << "brought to the front";
    EXPECT_EQ(column(w, JournalModel::Kind).first(), "Звуки");
    int windows = 0;
    for (QWidget* top : QApplication::topLevelWidgets())
        windows += qobject_cast<JournalWindow*>(top) != nullptr;
    EXPECT_EQ(windows, 1);

    QTest::keyClick(w.Table, Qt::Key_Escape);
    EXPECT_FALSE(w.isVisible()) << "Escape closes it";
    click(f.JournalButton);
    EXPECT_TRUE(w.isVisible()) << "one click on the main window";
    EXPECT_EQ(f.journalWindow(), &w);
}

TEST_F(JournalWindowTest, typed_serial_kind_outcome_and_dates_narrow_the_rows_and_a_bad_serial_is_said_inline) {
    TMainForm f(dialogs);
    shown(f);
    write(f, {record(JobKind::SettingsWrite, JobOutcome::Done, 305419896u, at(2, 9)),
              record(JobKind::Firmware, JobOutcome::Failed, 305419896u, at(5, 11)),
              record(JobKind::Firmware, JobOutcome::Done, 305419771u, at(10, 12)),
              record(JobKind::Report, JobOutcome::Interrupted, std::nullopt, at(20, 8)),
              record(JobKind::SettingsRead, JobOutcome::Declined, 3000000000u, at(21, 8))});
    JournalWindow& w = open(f);
    ASSERT_EQ(w.Model->rowCount(), 5);

    retype(w.SerialEdit, "305419896");
    EXPECT_EQ(column(w, JournalModel::Kind), QStringList({"Прошивка", "Запись настроек"}));
    EXPECT_FALSE(w.FilterNote->isVisible());
    EXPECT_EQ(w.CountLabel->text(), "Записей: 2");

    QTest::keyClicks(w.SerialEdit, "x");
    EXPECT_TRUE(w.FilterNote->isVisible());
    EXPECT_EQ(w.FilterNote->text(), "«305419896x» — не серийный номер: нужно целое число от -2147483648 до 4294967295.");
    EXPECT_EQ(w.Model->rowCount(), 2) << "the rows stay until the filter is right";
    EXPECT_FALSE(w.ExportButton->isEnabled()) << "an export now would not be what the filter says";
    QTest::keyClick(w.SerialEdit, Qt::Key_Backspace);
    EXPECT_FALSE(w.FilterNote->isVisible());
    EXPECT_TRUE(w.ExportButton->isEnabled());

    retype(w.SerialEdit, "-1294967296"); // 3000000000 as the main window's log prints it
    EXPECT_EQ(column(w, JournalModel::Serial), QStringList({"-1294967296"}));
    retype(w.SerialEdit, "");
    EXPECT_EQ(w.Model->rowCount(), 5);

    // The kind box from the keyboard: "все", then the kinds in their order.
    w.KindBox->setFocus(Qt::TabFocusReason);
    for (int i = 0; i < 5; ++i)
        QTest::keyClick(w.KindBox, Qt::Key_Down);
    EXPECT_EQ(w.KindBox->currentText(), "Прошивка");
    EXPECT_EQ(column(w, JournalModel::Serial), QStringList({"305419771", "305419896"}));
    w.OutcomeBox->setFocus(Qt::TabFocusReason);
    QTest::keyClick(w.OutcomeBox, Qt::Key_Down);
    EXPECT_EQ(w.OutcomeBox->currentText(), "Выполнено");
    EXPECT_EQ(column(w, JournalModel::Serial), QStringList({"305419771"}));
    QTest::keyClick(w.OutcomeBox, Qt::Key_Up);
    QTest::keyClick(w.KindBox, Qt::Key_Home);
    EXPECT_EQ(w.KindBox->currentText(), "все");
    EXPECT_EQ(w.Model->rowCount(), 5);

    // Dates: both ends included, typed as a user types them.
    click(w.DateCheck);
    EXPECT_TRUE(w.FromDate->isEnabled());
    const auto typeDate = [](QDateEdit* d, const char* text) {
        QTest::mouseClick(d, Qt::LeftButton, {}, QPoint(4, d->height() / 2)); // the day
        QTest::keyClicks(d, text);
        QTest::keyClick(d, Qt::Key_Tab);
    };
    typeDate(w.FromDate, "05112026");
    typeDate(w.ToDate, "20112026");
    EXPECT_EQ(w.FromDate->date(), QDate(2026, 11, 5));
    EXPECT_EQ(w.ToDate->date(), QDate(2026, 11, 20));
    EXPECT_EQ(column(w, JournalModel::Time),
              QStringList({"2026-11-20 08:00:30", "2026-11-10 12:00:30", "2026-11-05 11:00:30"}));
    typeDate(w.FromDate, "25112026");
    EXPECT_TRUE(w.FilterNote->isVisible());
    EXPECT_EQ(w.FilterNote->text(), "Начальная дата позже конечной.");
    click(w.DateCheck);
    EXPECT_FALSE(w.FilterNote->isVisible());
    EXPECT_EQ(w.Model->rowCount(), 5) << "dates off: every record";
}

// The serial number read in the main window: one log line of what the journal
// knows, no exchange of its own, and "Это устройство" in the journal window.
TEST_F(JournalWindowTest, a_serial_read_says_what_the_journal_knows_and_fills_this_device) {
    portSettingStore().write("COM7");
    auto emu = std::make_unique<EmulatorProcess>(
        std::vector<std::string>{"--register", "COM7", "--serial", "305419896", "--log", dir / "emu.jsonl"});
    TMainForm f(dialogs);
    shown(f);
    JournalWindow& w = open(f);
    EXPECT_FALSE(w.ThisDeviceButton->isEnabled()) << "no serial number read yet";
    f.activateWindow();
    click(f.GetSerialButton);
    ASSERT_TRUE(settled(f));
    EXPECT_EQ(log(f), QStringList({"Серийный номер устройства 305419896", "Журнал: записей об этом устройстве нет"}));

    write(f, {record(JobKind::SettingsRead, JobOutcome::Done, 305419896u, at(2, 9)),
              record(JobKind::Firmware, JobOutcome::Failed, 305419896u, at(9, 10, 15)),
              record(JobKind::SettingsWrite, JobOutcome::Done, 305419896u, at(3, 10)),
              record(JobKind::Sound, JobOutcome::Done, 11u, at(12, 10))});
    click(f.GetSerialButton);
    ASSERT_TRUE(settled(f));
    EXPECT_EQ(log(f).last(), "Журнал: 3 записи, последняя 2026-11-09 10:15, Прошивка, ошибка");
    const std::string exchanges = readWhole(dir / "emu.jsonl");
    EXPECT_EQ(std::count(exchanges.begin(), exchanges.end(), '\n'), 2) << "one request per read, none for the journal";

    JournalWindow& same = open(f);
    ASSERT_TRUE(same.ThisDeviceButton->isEnabled());
    click(same.ThisDeviceButton);
    EXPECT_EQ(same.SerialEdit->text(), "305419896");
    EXPECT_EQ(same.Model->rowCount(), 3);
}

// Открыть копию настроек: the backup in the editor as a backup file of that
// controller would be; Send's change list against the controller then writes
// the owner's values of its own backup and keeps them for another's.
TEST_F(JournalWindowTest, a_records_backup_opens_in_the_editor_and_send_treats_it_as_that_controllers_backup) {
    portSettingStore().write("COM7");
    auto emu = std::make_unique<EmulatorProcess>(std::vector<std::string>{
        "--register", "COM7", "--serial", "77", "--settings-text", "PinCod=4821\\nMicLevel=10\\n", "--log", dir / "emu.jsonl"});
    TMainForm f(dialogs);
    TParametersEditForm editor(dialogs, &f.runner(), &f);
    f.setEditor(&editor);
    shown(f);
    JobRecord own = record(JobKind::SettingsWrite, JobOutcome::Done, 77u, at(2, 9));
    journal::noteBackup(own, "77_2026-11-02_09-00-30.txt", "PinCod=1111\nMicLevel=8\nBalans=*1#\xD2\xE5\xF1\xF2\n");
    own.changes = {{"MicLevel", "10", "8", false, false, ""}, {"PinCod", "••••", "••••", true, false, ""}};
    JobRecord other = record(JobKind::Backup, JobOutcome::Done, 78u, at(1, 9));
    journal::noteBackup(other, "78_2026-11-01_09-00-30.txt", "PinCod=2222\nMicLevel=5\n");
    const JobRecord none = record(JobKind::SettingsRead, JobOutcome::Done, 77u, at(3, 9));
    write(f, {own, other, none});

    std::map<std::string, bool> checked; // the change list's rows by key
    dialogs.onModal = [&](QDialog* d) {
        if (d == &editor)
            d->show(); // the test drives the editor; the real program waits in exec()
        if (auto* view = qobject_cast<ChangesView*>(d); view && view->WriteButton) {
            checked.clear();
            for (int r = 0; r < view->Table->rowCount(); ++r)
                checked[view->Table->item(r, 3)->text().toStdString()] = view->Table->item(r, 0)->checkState() == Qt::Checked;
        }
    };
    JournalWindow& w = open(f);
    clickRow(w, 0);
    EXPECT_EQ(w.Model->index(0, JournalModel::Kind).data().toString(), "Чтение настроек");
    EXPECT_FALSE(w.OpenBackupButton->isEnabled()) << "a record without a backup";
    EXPECT_TRUE(w.Details->toPlainText().contains("Резервная копия: нет"));
    clickRow(w, 1);
    ASSERT_TRUE(w.OpenBackupButton->isEnabled());
    const QString details = w.Details->toPlainText();
    EXPECT_TRUE(details.startsWith("Запись настроек: выполнено\n")) << details.toStdString();
    EXPECT_TRUE(details.contains("(MicLevel): «10» → «8»")) << details.toStdString();
    EXPECT_TRUE(details.contains("(PinCod): «••••» → «••••» — не записано")) << details.toStdString();
    EXPECT_TRUE(details.contains("Резервная копия: 77_2026-11-02_09-00-30.txt"));

    click(w.OpenBackupButton);
    ASSERT_EQ(dialogs.modals, 1);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&editor));
    const auto shownValue = [&](const char* key) {
        QTest::mouseClick(editor.FilterEdit, Qt::LeftButton);
        QTest::keyClick(editor.FilterEdit, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(editor.FilterEdit, key);
        const QModelIndex node = editor.nodeOfKey(key);
        editor.Tree->scrollTo(node);
        QTest::mouseClick(editor.Tree->viewport(), Qt::LeftButton, {}, editor.Tree->visualRect(node).center());
        return editor.currentParameter() && editor.currentParameter()->key == key ? editor.ValueEdit->text() : QString();
    };
    EXPECT_EQ(shownValue("Balans"), "*1#Тест") << "the Windows-1251 text as a file of it loads";
    EXPECT_EQ(shownValue("PinCod"), "1111");
    EXPECT_EQ(shownValue("MicLevel"), "8");

    auto* bar = editor.findChild<QMenuBar*>();
    ASSERT_NE(bar, nullptr);
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(editor.SendAction).center());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !editor.busy() && !checked.empty(); }, 10000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !editor.busy(); }, 10000));
    EXPECT_EQ(checked, (std::map<std::string, bool>{{"PinCod", true}, {"MicLevel", true}, {"Balans", true}}))
        << "this controller's own backup: its PIN goes back";
    EXPECT_TRUE(fileContainsSoon(dir / "emu.jsonl", "PinCod=1111", 5000));

    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(editor.CloseAction).center());
    ASSERT_FALSE(editor.isVisible());
    clickRow(w, 2);
    ASSERT_EQ(w.Model->index(2, JournalModel::Serial).data().toString(), "78");
    click(w.OpenBackupButton);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&editor));
    EXPECT_EQ(shownValue("PinCod"), "2222");
    dialogs.lists = {false}; // Отмена on the list
    checked.clear();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(editor.SendAction).center());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !editor.busy() && !checked.empty(); }, 10000));
    EXPECT_FALSE(checked["PinCod"]) << "another controller's backup: this one's PIN is kept";
    EXPECT_TRUE(checked["MicLevel"]);
    editor.Modified = false;
}

// The export: every record the filters select, not only those read so far,
// as Excel in a Russian locale opens it; a file that cannot be written says so.
TEST_F(JournalWindowTest, the_export_holds_every_filtered_record_for_excel_and_a_failed_write_says_why) {
    TMainForm f(dialogs);
    shown(f);
    std::vector<JobRecord> records;
    for (int i = 0; i < 250; ++i)
        records.push_back(record(JobKind::SettingsRead, JobOutcome::Done, 1000u + static_cast<unsigned>(i % 2),
                                 at(1 + i / 24, i % 24, i % 60)));
    records.push_back(record(JobKind::Report, JobOutcome::Failed, 1000u, at(28, 23)));
    records.back().reason = "ответ; с \"кавычками\"";
    write(f, records);
    JournalWindow& w = open(f);
    EXPECT_EQ(w.Model->rowCount(), static_cast<int>(JournalModel::kPageSize)) << "a page first";
    EXPECT_EQ(w.CountLabel->text(), "Показано записей: 200, более ранние — при прокрутке вниз");
    const auto exported = [&](const std::string& file) {
        dialogs.files = {QString::fromStdString(file)};
        click(w.ExportButton);
        const std::string csv = readWhole(file);
        EXPECT_EQ(csv.rfind("\xEF\xBB\xBFid;started;ended;pc;user;program;port;serial;type;", 0), 0u) << csv.substr(0, 80);
        std::vector<std::string> lines;
        for (size_t from = 0, end; (end = csv.find("\r\n", from)) != std::string::npos; from = end + 2)
            lines.push_back(csv.substr(from, end - from));
        return lines;
    };
    const std::vector<std::string> all = exported(dir / "журнал.csv");
    EXPECT_EQ(all.size(), 1u + 251u) << "the header and every record, not only the page read";
    EXPECT_EQ(dialogs.lastSuffix, "csv");
    EXPECT_EQ(dialogs.lastFilter, "таблица CSV | *.csv");
    ASSERT_EQ(dialogs.asked.size(), 1u);
    EXPECT_EQ(dialogs.asked[0].caption, "Экспорт журнала");

    w.Table->setFocus();
    QTest::keyClick(w.Table, Qt::Key_End, Qt::ControlModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.Model->rowCount() == 251; }, 3000)) << "the rest as the view scrolls down";
    EXPECT_EQ(w.CountLabel->text(), "Записей: 251");
    EXPECT_EQ(w.Model->index(250, JournalModel::Time).data().toString(), "2026-11-01 00:00:30") << "the oldest last";

    retype(w.SerialEdit, "1000");
    EXPECT_EQ(w.Model->rowCount(), 126);
    const std::vector<std::string> lines = exported(dir / "журнал.csv");
    ASSERT_EQ(lines.size(), 1u + 126u) << "the header and every record of serial 1000; the old file replaced";
    EXPECT_EQ(lines[1].substr(0, 36), records.back().id) << "newest first";
    EXPECT_NE(lines[1].find(";1000;QV_r2;001.050;;report;failed;-2;\"ответ; с \"\"кавычками\"\"\";"), std::string::npos)
        << lines[1];
    for (size_t i = 2; i < lines.size(); ++i)
        EXPECT_NE(lines[i].find(";1000;QV_r2;001.050;;settings-read;done;"), std::string::npos) << lines[i];
    ASSERT_EQ(dialogs.asked.size(), 2u);

    // Named in UTF-8 on every system (a narrow path would be the ANSI code page's on Windows).
    dialogs.files = {QString::fromStdString((dir.path / std::filesystem::u8path("нет такой папки/журнал.csv")).u8string())};
    click(w.ExportButton);
    ASSERT_EQ(dialogs.asked.size(), 3u);
    EXPECT_EQ(dialogs.asked[2].caption, "Ошибка");
    EXPECT_TRUE(dialogs.asked[2].text.startsWith("Не удалось записать файл")) << dialogs.asked[2].text.toStdString();
    // The file or, where the folder is what refuses (Windows), the folder.
    EXPECT_TRUE(dialogs.asked[2].text.contains("нет такой папки")) << dialogs.asked[2].text.toStdString();
    EXPECT_TRUE(dialogs.errors.empty());
}

TEST_F(JournalWindowTest, a_journal_that_cannot_be_opened_is_said_and_the_main_window_works) {
    std::filesystem::create_directories(std::filesystem::u8path(dataFolder()));
    std::ofstream(std::filesystem::u8path(journalPath()), std::ios::binary) << std::string(4096, 'x');
    portSettingStore().write("COM7");
    auto emu = std::make_unique<EmulatorProcess>(std::vector<std::string>{"--register", "COM7", "--serial", "5"});
    TMainForm f(dialogs);
    shown(f);
    ASSERT_EQ(f.journalStore().access(), journal::JournalAccess::Unavailable);
    const QString problem = QString::fromStdString(f.journalStore().problem());
    EXPECT_TRUE(problem.contains(QString::fromStdString(journalPath()))) << problem.toStdString();
    click(f.GetSerialButton);
    ASSERT_TRUE(settled(f));
    EXPECT_EQ(log(f), QStringList({"Серийный номер устройства 5", problem}));

    JournalWindow& w = open(f);
    EXPECT_TRUE(w.ProblemLabel->isVisible());
    EXPECT_EQ(w.ProblemLabel->text(), problem);
    EXPECT_EQ(w.Model->rowCount(), 0);
    EXPECT_FALSE(w.ExportButton->isEnabled());
    EXPECT_EQ(readWhole(journalPath()), std::string(4096, 'x')) << "the file is left as it was";
}

TEST_F(JournalWindowTest, a_journal_of_a_newer_program_is_shown_read_only) {
    {
        journal::JournalStore store;
        std::vector<JobRecord> records = {record(JobKind::Restore, JobOutcome::Done, 9u, at(4, 9))};
        ASSERT_TRUE(store.write(records)) << store.problem();
    }
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(journalPath().c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "PRAGMA user_version = 99", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);

    TMainForm f(dialogs);
    shown(f);
    JournalWindow& w = open(f);
    EXPECT_EQ(column(w, JournalModel::Kind), QStringList({"Восстановление"}));
    EXPECT_TRUE(w.ProblemLabel->isVisible());
    EXPECT_TRUE(w.ProblemLabel->text().contains("только для чтения")) << w.ProblemLabel->text().toStdString();
    EXPECT_TRUE(w.ExportButton->isEnabled()) << "what can be read can be exported";
}
