// The journal window and the main window with a workshop server (the
// journal_server fixture's throwaway PostgreSQL), on shown windows: the server
// set and checked in the window, a caution and a password asked once, a silent
// server that leaves the windows responsive, two PCs' records with the PC
// column, another PC's backup in the editor, the fallback to this PC's records
// when the server is stopped, records the server refused listed among the
// workshop's and counted, the export of thousands of the server's records,
// and the serial number's log line counting the workshop's records.
#include "SilentListener.h"
#include "ChangesView.h"
#include "DataFolder.h"
#include "EmulatorProcess.h"
#include "FakeDialogs.h"
#include "JobRecord.h"
#include "JournalModel.h"
#include "JournalSchema.h"
#include "JournalStore.h"
#include "JournalWindow.h"
#include "ParametrsEdit.h"
#include "PortSettingStore.h"
#include "RecordCsv.h"
#include "ServerJournal.h"
#include "ServerSetting.h"
#include "SyncWorker.h"
#include "TempDir.h"
#include "Timestamp.h"
#include "WaitFor.h"
#include "WindowDriving.h"
#include "Z58main.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QTreeView>
#include <algorithm>
#include <arpa/inet.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <random>
#include <set>
#include <sys/socket.h>
#include <unistd.h>

using journal::JobKind;
using journal::JobOutcome;
using journal::JobRecord;

namespace {

std::string readLine(const std::string& path) {
    std::ifstream in(path);
    std::string s;
    std::getline(in, s);
    return s;
}


// Serial numbers of this run: the server keeps the records of every test.
std::uint32_t freshSerial() {
    static std::uint32_t next = 1000000u + std::random_device()() % 1000000u * 1000u;
    return next++;
}

struct JournalServerWindowTest : ::testing::Test, IsolatedSetup {
    std::string pg = [] {
        const char* d = std::getenv("Z58_TEST_PG");
        return std::string(d ? d : "");
    }();
    std::string port;
    ScopedEnv noServer{journal::kServerEnvironment, ""};
    std::unique_ptr<ScopedEnv> passfile;
    FakeDialogs dialogs;

    void SetUp() override {
        if (pg.empty())
            GTEST_SKIP() << "Z58_TEST_PG names no server (the journal_server fixture starts one under ctest)";
        port = readLine(pg + "/port");
        passfile = std::make_unique<ScopedEnv>("PGPASSFILE", pg + "/pgpass");
    }
    std::string conninfo(const std::string& user = "pc1", const std::string& db = "z58") const {
        return "host=127.0.0.1 port=" + port + " dbname=" + db + " user=" + user + " sslmode=verify-full sslrootcert=" +
               pg + "/root.crt";
    }
    // SQL with psql: as a role of the server (where: a connection string;
    // the fixture's password file has its password), or as the fixture's
    // administrator (where empty: through the server's own socket).
    void psql(const std::string& where, const std::string& statements) {
        const std::string file = dir / "statements.sql";
        std::ofstream(file) << statements << "\n";
        const std::string to = where.empty()
                                   ? "-h " + readLine(pg + "/server-dir") + "/sock -p " + port + " -U admin -d postgres"
                                   : "-d \"" + where + "\"";
        EXPECT_EQ(std::system(("psql -X -q -v ON_ERROR_STOP=1 " + to + " -f " + file).c_str()), 0) << statements;
    }
    static JobRecord record(const std::string& pc, std::uint32_t serial, JobKind kind, int minute) {
        JobRecord r = journal::newRecord(kind, {pc, "tech", "z58config", "1.1.0"}, "COM3");
        char started[40];
        std::snprintf(started, sizeof started, "2026-11-14T10:%02d:00.000+03:00", minute);
        r.started = r.ended = started;
        r.outcome = JobOutcome::Done;
        r.serial = serial;
        r.deviceType = "QV_r2";
        r.firmwareBefore = "001.083";
        return r;
    }
    // Another PC's journal of its own, sent to the server as that PC's role.
    void otherPc(const std::string& user, std::vector<JobRecord> records, const std::string& db = "z58") {
        journal::JournalStore store(dir / (user + "-" + db + ".sqlite"));
        ASSERT_TRUE(store.write(records)) << store.problem();
        journal::ServerJournal server(conninfo(user, db));
        const journal::SyncPass pass = journal::syncWaiting(store, server);
        ASSERT_EQ(pass.sent, records.size()) << pass.problem;
    }
    static JournalWindow& open(TMainForm& f) {
        f.activateWindow();
        EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == &f; }, 3000));
        QTest::keyClick(&f, Qt::Key_J, Qt::ControlModifier);
        JournalWindow* w = f.journalWindow();
        [&] {
            ASSERT_NE(w, nullptr);
            ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
        }();
        return *w;
    }
    static bool answered(JournalWindow& w, int timeoutMs = 15000) {
        return QTest::qWaitFor([&] { return !w.waiting(); }, timeoutMs);
    }
    static void retype(QLineEdit* edit, const std::string& text) {
        QTest::mouseClick(edit, Qt::LeftButton);
        QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(edit, Qt::Key_Delete);
        QTest::keyClicks(edit, QString::fromStdString(text));
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
    static QStringList log(TMainForm& f) { return f.Memo1->toPlainText().split('\n', Qt::SkipEmptyParts); }
    // The server stopped for a while, and started again whatever the test's outcome.
    struct Paused {
        std::string pg;
        bool down = false;
        explicit Paused(std::string dir) : pg(std::move(dir)) { run("pause"); }
        ~Paused() {
            if (down)
                run("resume");
        }
        void run(const char* what) {
            EXPECT_EQ(std::system(("sh " + std::string(Z58_PG_SCRIPT) + " " + what + " " + pg).c_str()), 0) << what;
            down = std::string(what) == "pause";
        }
    };
};

} // namespace

// Проверить: the string saved and checked, the server answers; a password in
// the string or a string libpq cannot read is refused as z58ctl refuses it and
// nothing is saved; an empty string turns the server off.
TEST_F(JournalServerWindowTest, the_server_set_in_the_window_is_saved_and_checked_and_turned_off) {
    TMainForm f(dialogs);
    shown(f);
    JournalWindow& w = open(f);
    EXPECT_TRUE(w.ServerEdit->text().isEmpty());
    EXPECT_FALSE(f.workshopServer().isSet());

    retype(w.ServerEdit, conninfo() + " password=pc1-pw");
    click(w.CheckButton);
    EXPECT_EQ(w.ServerStatus->text(), "Пароль в настройках программы не хранится: уберите password= из строки и запишите "
                                      "его в файл паролей libpq (~/.pgpass, PGPASSFILE или passfile=).");
    retype(w.ServerEdit, "host=127.0.0.1 port");
    click(w.CheckButton);
    EXPECT_TRUE(w.ServerStatus->text().startsWith("Строка подключения неверна: ")) << w.ServerStatus->text().toStdString();
    EXPECT_EQ(journal::keptJournalServer(), "") << "nothing saved";
    EXPECT_FALSE(f.workshopServer().isSet());

    retype(w.ServerEdit, conninfo());
    click(w.CheckButton);
    EXPECT_TRUE(w.waiting());
    ASSERT_TRUE(answered(w));
    EXPECT_EQ(w.ServerStatus->text(), "Сервер журнала отвечает.");
    EXPECT_EQ(journal::keptJournalServer(), conninfo());
    EXPECT_EQ(f.workshopServer().conninfo(), conninfo());
    EXPECT_TRUE(w.Model->fromServer());
    EXPECT_TRUE(dialogs.asked.empty()) << "this PC's server with verify-full: no caution";
    EXPECT_TRUE(dialogs.passwordAsks.empty()) << "the password file gives it";

    retype(w.ServerEdit, "");
    click(w.CheckButton);
    EXPECT_EQ(w.ServerStatus->text(), "Сервер журнала не задан: записи остаются только на этом компьютере.");
    EXPECT_EQ(journal::keptJournalServer(), "");
    EXPECT_FALSE(f.workshopServer().isSet());
    EXPECT_FALSE(w.Model->fromServer());
    EXPECT_FALSE(w.waiting());
}

// A host named as on another PC with sslmode=require: cautioned about once; no
// line of the password file names it, so the window asks, keeps the password
// in memory for its own reads and the sync worker, and never on disk.
TEST_F(JournalServerWindowTest, a_caution_once_and_a_password_asked_kept_in_memory_for_the_reads_and_the_sync) {
    const std::string remote = "host=workshop-server hostaddr=127.0.0.1 port=" + port + " dbname=z58 user=pc1 sslmode=require";
    const std::uint32_t serial = freshSerial();
    TMainForm f(dialogs);
    shown(f);
    JobRecord mine = record("THIS-PC", serial, JobKind::Backup, 1);
    ASSERT_TRUE(f.journalStore().write(mine));
    JournalWindow& w = open(f);

    dialogs.passwords = {"not-the-password"};
    retype(w.ServerEdit, remote);
    click(w.CheckButton);
    ASSERT_TRUE(answered(w));
    ASSERT_EQ(dialogs.asked.size(), 1u);
    EXPECT_EQ(dialogs.asked[0].caption, "Сервер журнала");
    EXPECT_EQ(dialogs.asked[0].text.toStdString(), journal::ServerJournal::securityWarning(remote));
    ASSERT_EQ(dialogs.passwordAsks.size(), 1u);
    EXPECT_EQ(dialogs.passwordAsks[0].caption, "Пароль сервера журнала");
    EXPECT_TRUE(w.ServerStatus->text().contains("password authentication failed")) << w.ServerStatus->text().toStdString();
    EXPECT_TRUE(w.ServerStatus->text().endsWith("Строка сохранена: записи ждут, пока сервер не ответит."));
    EXPECT_TRUE(w.ServerNote->isVisible()) << "this PC's records meanwhile";

    // Again: no second caution; the wrong password was not kept, so it is asked again.
    dialogs.passwords = {"pc1-pw"};
    click(w.CheckButton);
    ASSERT_TRUE(answered(w));
    EXPECT_EQ(dialogs.asked.size(), 1u) << "cautioned once";
    ASSERT_EQ(dialogs.passwordAsks.size(), 2u);
    EXPECT_EQ(w.ServerStatus->text(), "Сервер журнала отвечает.");
    EXPECT_EQ(f.workshopServer().password(), "pc1-pw");
    EXPECT_TRUE(w.Model->fromServer());
    EXPECT_FALSE(w.ServerNote->isVisible());
    click(w.CheckButton);
    ASSERT_TRUE(answered(w));
    EXPECT_EQ(dialogs.passwordAsks.size(), 2u) << "the typed password stays with its server";
    EXPECT_EQ(w.ServerStatus->text(), "Сервер журнала отвечает.");

    // The sync worker has it too: this PC's record reaches the server.
    journal::ServerJournal check(conninfo());
    ASSERT_TRUE(QTest::qWaitFor([&] { return check.find(mine.id).has_value(); }, 15000)) << check.problem();
    EXPECT_EQ(journal::keptJournalServer(), remote);
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path)) {
        if (entry.is_regular_file()) {
            EXPECT_EQ(readWhole(entry.path().string()).find("pc1-pw"), std::string::npos) << entry.path();
        }
    }
}

// A listener that never answers: while the check waits for it, the window
// takes keys and filters this PC's records at once; closing the program then
// does not wait for it either.
TEST_F(JournalServerWindowTest, a_silent_server_leaves_the_windows_responsive_and_the_program_closes_at_once) {
    SilentListener silent;
    const std::string conninfoSilent =
        "host=127.0.0.1 port=" + std::to_string(silent.port) + " dbname=z58 user=pc1 connect_timeout=3";
    auto f = std::make_unique<TMainForm>(dialogs);
    shown(*f);
    const std::uint32_t serial = freshSerial();
    std::vector<JobRecord> mine = {record("THIS-PC", serial, JobKind::Backup, 1), record("THIS-PC", serial + 1, JobKind::Sound, 2)};
    ASSERT_TRUE(f->journalStore().write(mine));
    JournalWindow& w = open(*f);

    retype(w.ServerEdit, conninfoSilent);
    QElapsedTimer clock;
    clock.start();
    click(w.CheckButton);
    EXPECT_TRUE(w.waiting());
    EXPECT_EQ(w.ServerStatus->text(), "Подключение к серверу журнала…");
    retype(w.SerialEdit, std::to_string(serial + 1));
    EXPECT_EQ(column(w, JournalModel::Kind), QStringList({"Звуки"})) << "filtered at once, while the check waits";
    EXPECT_LT(clock.elapsed(), 1500) << "the keys were handled without waiting for the server";
    EXPECT_TRUE(w.waiting()) << "the check still waits";

    ASSERT_TRUE(answered(w, 15000));
    EXPECT_GE(clock.elapsed(), 2500) << "the check ended by its time-out";
    EXPECT_TRUE(w.ServerStatus->text().startsWith("Сервер журнала недоступен: ")) << w.ServerStatus->text().toStdString();
    EXPECT_TRUE(w.ServerStatus->text().endsWith("Строка сохранена: записи ждут, пока сервер не ответит."));
    ASSERT_TRUE(w.ServerNote->isVisible());
    EXPECT_TRUE(w.ServerNote->text().endsWith("Показаны записи этого компьютера; ждут отправки на сервер: 2."))
        << w.ServerNote->text().toStdString();
    EXPECT_EQ(column(w, JournalModel::Kind), QStringList({"Звуки"}));

    // A second check under way, the sync worker's pass too: the program ends without waiting.
    click(w.CheckButton);
    ASSERT_TRUE(w.waiting());
    clock.restart();
    f.reset();
    EXPECT_LT(clock.elapsed(), 1000) << "closing never waits for the server";
}

// Two other PCs' records on the server and this PC's, one of them not sent
// yet: all of them, with the PC column; another PC's backup from the server in
// the editor; this PC's record the server refused says why.
TEST_F(JournalServerWindowTest, the_records_of_every_pc_with_another_pcs_backup_and_a_refused_record) {
    const std::uint32_t serial = freshSerial();
    JobRecord other = record("PC-A", serial, JobKind::Backup, 10);
    journal::noteBackup(other, "77_2026-11-14_10-10-00.txt", "PinCod=2468\nMicLevel=7\n");
    otherPc("pc1", {other, record("PC-A", serial, JobKind::Firmware, 12)});
    otherPc("pc2", {record("PC-B", serial, JobKind::SettingsRead, 11)});
    ASSERT_NO_THROW(journal::keepJournalServer(conninfo()));

    // This PC's: sent once, then written again and refused until set aside.
    JobRecord refused = record("THIS-PC", serial, JobKind::SettingsWrite, 13);
    {
        journal::JournalStore mine;
        ASSERT_TRUE(mine.write(refused));
        journal::ServerJournal server(conninfo());
        ASSERT_EQ(journal::syncWaiting(mine, server).sent, 1u);
        refused.reason = "не то";
        ASSERT_TRUE(mine.write(refused));
        for (int i = 0; i < journal::kMaxRefusals; ++i)
            mine.markRefused({{refused.id, refused.revision, "new row violates check constraint \"x\""}});
        ASSERT_EQ(mine.find(refused.id)->refused, "new row violates check constraint \"x\"");
        ASSERT_EQ(mine.waitingCount(), 0u);
    }
    TMainForm f(dialogs);
    TParametersEditForm editor(dialogs, &f.runner(), &f);
    f.setEditor(&editor);
    shown(f);
    dialogs.onModal = [&](QDialog* d) {
        if (d == &editor)
            d->show();
    };
    JournalWindow& w = open(f);
    EXPECT_EQ(w.ServerEdit->text().toStdString(), conninfo());
    retype(w.SerialEdit, std::to_string(serial));
    ASSERT_TRUE(answered(w));
    ASSERT_TRUE(w.Model->fromServer()) << w.Model->serverProblem();
    EXPECT_EQ(column(w, JournalModel::Pc), QStringList({"THIS-PC — не принята сервером", "PC-A", "PC-B", "PC-A"}));
    EXPECT_EQ(column(w, JournalModel::Kind), QStringList({"Запись настроек", "Прошивка", "Чтение настроек", "Резервная копия"}));
    EXPECT_EQ(w.Model->headerData(JournalModel::Pc, Qt::Horizontal).toString(), "Компьютер");
    EXPECT_EQ(w.CountLabel->text(), "Записей: 4 (все компьютеры мастерской), из них не принято сервером: 1");
    EXPECT_FALSE(w.ServerNote->isVisible());

    clickRow(w, 0);
    EXPECT_TRUE(w.Details->toPlainText().contains(
        "Сервер журнала не принял запись, она отложена: new row violates check constraint \"x\""))
        << w.Details->toPlainText().toStdString();
    clickRow(w, 3);
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.OpenBackupButton->isEnabled(); }, 10000)) << "the backup read from the server";
    EXPECT_TRUE(w.Details->toPlainText().contains("Компьютер: PC-A")) << w.Details->toPlainText().toStdString();
    click(w.OpenBackupButton);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&editor));
    QTest::mouseClick(editor.FilterEdit, Qt::LeftButton);
    QTest::keyClicks(editor.FilterEdit, "PinCod");
    const QModelIndex node = editor.nodeOfKey("PinCod");
    editor.Tree->scrollTo(node);
    QTest::mouseClick(editor.Tree->viewport(), Qt::LeftButton, {}, editor.Tree->visualRect(node).center());
    ASSERT_NE(editor.currentParameter(), nullptr);
    EXPECT_EQ(editor.ValueEdit->text(), "2468") << "PC-A's backup, as the server keeps it";
    editor.Modified = false;
    editor.close();
}

// A record the server refuses (a rule of the workshop's database) and was
// never on it: set aside on this PC, and still among the workshop's records in
// the window, in date order, its PC marked and the reason in its details,
// counted below the table; with the server stopped, the line above this PC's
// records counts it too.
TEST_F(JournalServerWindowTest, a_record_the_server_refused_is_listed_in_date_order_marked_with_why_and_counted) {
    const std::uint32_t serial = freshSerial();
    // A database of this test's own, its tables made by the program, with a rule of its own.
    const std::string db = "z58window" + std::to_string(serial);
    psql({}, "CREATE DATABASE " + db + " OWNER owner");
    const std::string workshop = conninfo("owner", db);
    {
        journal::ServerJournal tables(workshop);
        ASSERT_TRUE(tables.connect()) << tables.problem();
    }
    psql(workshop, "ALTER TABLE z58_record ADD CONSTRAINT no_window_port CHECK (port <> 'COM665');");
    otherPc("owner", {record("PC-A", serial, JobKind::Backup, 40), record("PC-A", serial, JobKind::Firmware, 44)}, db);
    ASSERT_NO_THROW(journal::keepJournalServer(workshop));
    JobRecord refused = record("THIS-PC", serial, JobKind::SettingsWrite, 42);
    refused.port = "COM665";
    {
        journal::JournalStore mine;
        std::vector<JobRecord> records = {refused, record("THIS-PC", serial, JobKind::SettingsRead, 43)};
        ASSERT_TRUE(mine.write(records));
        journal::ServerJournal server(workshop);
        for (int i = 0; i < journal::kMaxRefusals; ++i)
            journal::syncWaiting(mine, server);
        refused = *mine.find(refused.id);
        ASSERT_NE(refused.refused.find("no_window_port"), std::string::npos) << refused.refused;
        ASSERT_EQ(mine.waitingCount(), 0u);
        ASSERT_EQ(mine.setAsideCount(), 1u);
    }
    TMainForm f(dialogs);
    shown(f);
    JournalWindow& w = open(f);
    retype(w.SerialEdit, std::to_string(serial));
    ASSERT_TRUE(answered(w));
    ASSERT_TRUE(w.Model->fromServer()) << w.Model->serverProblem();
    EXPECT_EQ(column(w, JournalModel::Pc), QStringList({"PC-A", "THIS-PC", "THIS-PC — не принята сервером", "PC-A"}));
    EXPECT_EQ(column(w, JournalModel::Time),
              QStringList({"2026-11-14 10:44:00", "2026-11-14 10:43:00", "2026-11-14 10:42:00", "2026-11-14 10:40:00"}));
    EXPECT_EQ(w.CountLabel->text(), "Записей: 4 (все компьютеры мастерской), из них не принято сервером: 1");
    const QModelIndex pc = w.Model->index(2, JournalModel::Pc);
    EXPECT_EQ(pc.data(Qt::ToolTipRole).toString().toStdString(),
              "Сервер журнала не принял запись, она отложена: " + refused.refused);
    EXPECT_NE(pc.data(Qt::ForegroundRole), w.Model->index(1, JournalModel::Pc).data(Qt::ForegroundRole))
        << "the mark stands out";
    clickRow(w, 2);
    EXPECT_TRUE(w.Details->toPlainText().contains(
        QString::fromStdString("Сервер журнала не принял запись, она отложена: " + refused.refused)))
        << w.Details->toPlainText().toStdString();
    EXPECT_TRUE(w.Details->toPlainText().contains("порт COM665"));

    Paused paused(pg);
    QTest::keyClick(w.Table, Qt::Key_F5);
    ASSERT_TRUE(answered(w));
    ASSERT_FALSE(w.Model->fromServer());
    EXPECT_TRUE(w.ServerNote->text().endsWith(
        "Показаны записи этого компьютера; ждут отправки на сервер: 0; не принято сервером: 1."))
        << w.ServerNote->text().toStdString();
    EXPECT_EQ(column(w, JournalModel::Pc), QStringList({"THIS-PC", "THIS-PC — не принята сервером"}));
    EXPECT_EQ(w.CountLabel->text(), "Записей: 2 (этот компьютер), из них не принято сервером: 1");
}

// "Экспорт в CSV…" of the workshop's records: thousands of another PC's from
// the server with this PC's among them, written as they come; the file is
// the text of the whole list, byte for byte.
TEST_F(JournalServerWindowTest, the_export_of_thousands_of_the_servers_records_is_the_whole_lists_text) {
    const std::uint32_t serial = freshSerial();
    std::vector<JobRecord> all;
    for (int i = 0; i < 3500; ++i) {
        JobRecord r = record("PC-B", serial, i % 3 ? JobKind::SettingsRead : JobKind::Firmware, 0);
        char started[40];
        std::snprintf(started, sizeof started, "2026-10-%02dT%02d:%02d:%02d.000+03:00", 1 + i / 3600, 8 + i / 60 % 60 / 6,
                      i / 60 % 60, i % 60);
        r.started = r.ended = started;
        if (i % 7 == 0) {
            r.outcome = JobOutcome::Failed;
            r.code = -2;
            r.reason = "нет ответа; «" + std::to_string(i) + "»";
        }
        all.push_back(r);
    }
    otherPc("pc2", all);
    ASSERT_NO_THROW(journal::keepJournalServer(conninfo()));
    {
        journal::JournalStore mine;
        std::vector<JobRecord> records = {record("THIS-PC", serial, JobKind::Backup, 1),
                                          record("THIS-PC", serial, JobKind::SettingsWrite, 2)};
        records[0].started = records[0].ended = "2026-10-01T09:30:30.500+03:00";
        records[1].changes = {{"MicLevel", "10", "8", false, false, ""}};
        ASSERT_TRUE(mine.write(records));
        for (int i = 0; i < journal::kMaxRefusals; ++i)
            mine.markRefused({{records[1].id, records[1].revision, "violates check constraint \"x\""}});
        all.insert(all.end(), records.begin(), records.end());
    }
    std::sort(all.begin(), all.end(), [](const JobRecord& a, const JobRecord& b) {
        const auto ta = *journal::timestampMs(a.started), tb = *journal::timestampMs(b.started);
        return ta != tb ? ta > tb : a.id > b.id;
    });
    TMainForm f(dialogs);
    shown(f);
    JournalWindow& w = open(f);
    retype(w.SerialEdit, std::to_string(serial));
    ASSERT_TRUE(answered(w));
    ASSERT_TRUE(w.Model->fromServer()) << w.Model->serverProblem();
    EXPECT_EQ(w.Model->rowCount(), static_cast<int>(JournalModel::kPageSize));

    const std::string file = dir / "мастерская.csv";
    dialogs.files = {QString::fromStdString(file)};
    click(w.ExportButton);
    EXPECT_TRUE(w.waiting());
    EXPECT_FALSE(w.ExportButton->isEnabled()) << "one export at a time";
    ASSERT_TRUE(answered(w, 30000));
    ASSERT_EQ(dialogs.asked.size(), 1u);
    EXPECT_EQ(dialogs.asked[0].caption, "Экспорт журнала") << dialogs.asked[0].text.toStdString();
    const std::string written = readWhole(file);
    EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 1 + 3502) << "the header and every record";
    EXPECT_TRUE(written == journal::recordsCsv(all, journal::CsvStyle::ExcelRussian))
        << "the whole list's text, byte for byte (" << written.size() << " bytes written)";
    EXPECT_TRUE(w.ExportButton->isEnabled());
}

// The server stopped: this PC's records, and a line that says why and how
// many wait; started again, F5 brings the workshop's back.
TEST_F(JournalServerWindowTest, a_stopped_server_falls_back_to_this_pcs_records_with_the_waiting_count) {
    const std::uint32_t serial = freshSerial();
    otherPc("pc2", {record("PC-B", serial, JobKind::SettingsRead, 20)});
    ASSERT_NO_THROW(journal::keepJournalServer(conninfo()));
    {
        Paused paused(pg);
        TMainForm f(dialogs);
        shown(f);
        ASSERT_TRUE(f.workshopServer().isSet());
        std::vector<JobRecord> mine = {record("THIS-PC", serial, JobKind::Backup, 21),
                                       record("THIS-PC", serial, JobKind::Restore, 22),
                                       record("THIS-PC", serial + 1, JobKind::Sound, 23)};
        ASSERT_TRUE(f.journalStore().write(mine));
        JournalWindow& w = open(f);
        retype(w.SerialEdit, std::to_string(serial));
        ASSERT_TRUE(answered(w));
        EXPECT_FALSE(w.Model->fromServer());
        ASSERT_TRUE(w.ServerNote->isVisible());
        const QString note = w.ServerNote->text();
        EXPECT_TRUE(note.startsWith("Сервер журнала недоступен: ")) << note.toStdString();
        EXPECT_TRUE(note.endsWith(". Показаны записи этого компьютера; ждут отправки на сервер: 3.")) << note.toStdString();
        EXPECT_EQ(column(w, JournalModel::Kind), QStringList({"Восстановление", "Резервная копия"}));
        EXPECT_EQ(w.CountLabel->text(), "Записей: 2 (этот компьютер)");

        paused.run("resume");
        QTest::keyClick(w.Table, Qt::Key_F5);
        ASSERT_TRUE(answered(w));
        ASSERT_TRUE(w.Model->fromServer()) << w.Model->serverProblem();
        EXPECT_EQ(column(w, JournalModel::Pc), QStringList({"THIS-PC", "THIS-PC", "PC-B"}));
        EXPECT_FALSE(w.ServerNote->isVisible());
    }
}

// After a serial number: the workshop's count when the server answers, this
// PC's after 2 s when it does not (the window working meanwhile).
TEST_F(JournalServerWindowTest, the_serial_numbers_log_line_counts_the_workshops_records_or_this_pcs_after_2_s) {
    const std::uint32_t serial = freshSerial();
    otherPc("pc2", {record("PC-B", serial, JobKind::SettingsRead, 30), record("PC-B", serial, JobKind::Firmware, 31)});
    ASSERT_NO_THROW(journal::keepJournalServer(conninfo()));
    portSettingStore().write("COM7");
    EmulatorProcess emu({"--register", "COM7", "--serial", std::to_string(serial)});
    {
        journal::JournalStore mine;
        std::vector<JobRecord> one = {record("THIS-PC", serial, JobKind::Backup, 32)};
        ASSERT_TRUE(mine.write(one));
        journal::ServerJournal server(conninfo());
        ASSERT_EQ(journal::syncWaiting(mine, server).sent, 1u);
    }
    {
        TMainForm f(dialogs);
        shown(f);
        click(f.GetSerialButton);
        ASSERT_TRUE(QTest::qWaitFor([&] { return log(f).size() == 2; }, 10000)) << log(f).join('\n').toStdString();
        EXPECT_EQ(log(f)[1], "Журнал мастерской: 3 записи, последняя 2026-11-14 10:32, Резервная копия, выполнено");
    }
    SilentListener silent;
    ASSERT_NO_THROW(journal::keepJournalServer("host=127.0.0.1 port=" + std::to_string(silent.port) + " dbname=z58 user=pc1"));
    TMainForm f(dialogs);
    shown(f);
    click(f.GetSerialButton);
    ASSERT_TRUE(settled(f));
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return log(f).size() == 2; }, 5000)) << log(f).join('\n').toStdString();
    EXPECT_EQ(log(f)[1], "Журнал этого компьютера (сервер не ответил): 1 запись, последняя 2026-11-14 10:32, "
                         "Резервная копия, выполнено");
    EXPECT_GT(clock.elapsed(), 1000) << "written when the 2 s were up";
    EXPECT_TRUE(f.isEnabled());
}

// A job's record goes to the server soon after it was written (the sync
// worker is told, not left to its half-minute round).
TEST_F(JournalServerWindowTest, a_jobs_record_reaches_the_server_soon_after_the_job) {
    ASSERT_NO_THROW(journal::keepJournalServer(conninfo()));
    portSettingStore().write("COM7");
    EmulatorProcess emu({"--register", "COM7", "--settings-text", "MicLevel=10\\n"});
    TMainForm f(dialogs);
    TParametersEditForm editor(dialogs, &f.runner(), &f);
    f.setEditor(&editor);
    shown(f);
    journal::ServerJournal check(conninfo());
    // The sync worker's first round, at its start, has found nothing.
    QTest::qWait(500);
    click(f.ReadButton);
    ASSERT_TRUE(settled(f));
    ASSERT_EQ(dialogs.modals, 1) << "the editor with the settings read";
    const std::vector<JobRecord> recorded = f.journalStore().list();
    ASSERT_EQ(recorded.size(), 1u);
    ASSERT_EQ(recorded[0].kind, JobKind::SettingsRead);
    ASSERT_EQ(recorded[0].outcome, JobOutcome::Done);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const auto there = check.find(recorded[0].id);
            return there && there->outcome == JobOutcome::Done && there->pc == recorded[0].pc;
        },
        10000))
        << check.problem();
    EXPECT_TRUE(QTest::qWaitFor([&] { return f.journalStore().waitingCount() == 0u; }, 5000)) << "marked sent";
}
