// The journal window over a workshop server holding 100,000 records (a
// throwaway PostgreSQL started here with tests/journal/pg_server.sh, removed at
// the end), in-process with the real main window, each time until the
// server's rows are in the table and painted: the window's first Ctrl+J, each
// Ctrl+J after (the records read again), the last keystroke of a serial
// number typed (100 records of it, filtered on the server), and the pages
// read while scrolling to the end of a long list.
//   journal_server_window_bench [--quick]   --quick: fewer rounds
#include "DataFolder.h"
#include "FakeDialogs.h"
#include "JobRecord.h"
#include "JournalModel.h"
#include "JournalWindow.h"
#include "ServerJournal.h"
#include "ServerSetting.h"
#include "TempDir.h"
#include "Z58main.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

using namespace journal;

namespace {

constexpr int kRecords = 100000;
constexpr int kBatch = 5000;
constexpr std::uint32_t kFirstSerial = 305419000;
constexpr std::uint32_t kSerials = 1000; // 100 records of each controller
constexpr double kGoalMs = 300;
constexpr int kAnswerLimitMs = 30000;

const char* const kPcs[] = {"workshop-1", "workshop-2", "workshop-3"};

// A year of three PCs' work: every seventh job a settings write with its
// change list, backups of a kilobyte with the settings writes and backups.
JobRecord sampleRecord(int i, const std::string& backup) {
    const auto start = Clock::time_point(std::chrono::seconds(1767225600 + static_cast<std::int64_t>(i) * 315));
    const JobKind kind = kAllKinds[static_cast<size_t>(i) % std::size(kAllKinds)];
    JobRecord r = newRecord(kind, {kPcs[i % 3], "ivan", "z58config", "1.1.0"}, "COM3", start);
    r.revision = 2;
    r.serial = kFirstSerial + static_cast<std::uint32_t>(i) % kSerials;
    r.deviceType = "QV_r2";
    r.firmwareBefore = "001.050";
    if (kind == JobKind::Firmware)
        r.firmwareAfter = "001.083";
    if (kind == JobKind::SettingsWrite)
        r.changes = {{"MicLevel", "10", "8", false, false, ""},
                     {"PinCod", "••••", "••••", true, false, ""},
                     {"Balans", "*100#", "*102#", false, false, ""}};
    if (kind == JobKind::SettingsWrite || kind == JobKind::Backup)
        noteBackup(r, "/x/305419896_2026-12-08_14-05-09.txt", backup);
    const JobOutcome outcome = i % 20 == 0 ? JobOutcome::Failed : JobOutcome::Done;
    finishRecord(r, outcome, outcome == JobOutcome::Failed ? -2 : 0, outcome == JobOutcome::Failed ? "Нет ответа" : "",
                 start + std::chrono::seconds(20));
    return r;
}

void fill(const std::string& conninfo) {
    ServerJournal server(conninfo);
    std::string backup;
    while (backup.size() < 1000)
        backup += "MicLevel=10\nPinCod=1234\n";
    for (int from = 0; from < kRecords; from += kBatch) {
        std::vector<JobRecord> records;
        for (int i = from; i < std::min(kRecords, from + kBatch); ++i)
            records.push_back(sampleRecord(i, backup));
        for (const SentRecord& s : server.send(records))
            if (s.delivery != Delivery::Stored)
                throw std::runtime_error("not stored: " + s.reason);
    }
}

struct Figures {
    std::vector<double> ms;
    void add(double v) { ms.push_back(v); }
    void print(const char* what) {
        std::sort(ms.begin(), ms.end());
        std::printf("%-52s median %7.1f ms   worst %7.1f ms   (%zu runs)%s\n", what, ms[ms.size() / 2], ms.back(),
                    ms.size(), ms.back() < kGoalMs ? "" : "   OVER 300 ms");
    }
};

double since(const QElapsedTimer& t) { return static_cast<double>(t.nsecsElapsed()) / 1e6; }

// Until the window's read of the server has ended, the event loop running.
void answered(JournalWindow& w) {
    if (w.waiting()) {
        QEventLoop loop;
        QObject::connect(w.Model, &JournalModel::serverRead, &loop, [&] {
            if (!w.waiting())
                loop.quit();
        });
        QTimer::singleShot(kAnswerLimitMs, &loop, &QEventLoop::quit);
        loop.exec();
    }
    if (!w.Model->fromServer())
        throw std::runtime_error("the server's records are not shown: " + w.Model->serverProblem());
}

// The table's rows as the user sees them: painted now, not when the loop gets to it.
void painted(JournalWindow& w) {
    w.Table->viewport()->repaint();
    QApplication::processEvents();
}

struct Cluster {
    std::string dir;
    explicit Cluster(std::string d) : dir(std::move(d)) {
        if (std::system(("sh " + std::string(Z58_PG_SCRIPT) + " start " + dir).c_str()) != 0)
            throw std::runtime_error("the server did not start");
    }
    ~Cluster() { std::system(("sh " + std::string(Z58_PG_SCRIPT) + " stop " + dir + " >/dev/null 2>&1").c_str()); }
};

} // namespace

int main(int argc, char** argv) {
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    const int rounds = quick ? 10 : 40;
    IsolatedSetup setup;
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    try {
        Cluster cluster(setup.dir / "pg");
        std::string port;
        std::ifstream(cluster.dir + "/port") >> port;
        setEnv("PGPASSFILE", cluster.dir + "/pgpass");
        unsetEnv(kServerEnvironment);
        const std::string conninfo = "host=127.0.0.1 port=" + port + " dbname=z58 user=pc1 sslmode=verify-full sslrootcert=" +
                                     cluster.dir + "/root.crt";
        QElapsedTimer clock;
        clock.start();
        fill(conninfo);
        std::printf("server journal of %d records of 3 PCs made in %.1f s\n", kRecords, since(clock) / 1000);
        keepJournalServer(conninfo);

        FakeDialogs dialogs;
        TMainForm form(dialogs);
        form.show();
        if (!QTest::qWaitForWindowExposed(&form))
            return 1;
        clock.restart();
        QTest::keyClick(&form, Qt::Key_J, Qt::ControlModifier);
        JournalWindow* w = form.journalWindow();
        if (!w || !QTest::qWaitForWindowExposed(w))
            return 1;
        answered(*w);
        painted(*w);
        Figures first;
        first.add(since(clock));
        first.print("first Ctrl+J: the window made, the server's rows");
        if (w->Model->rowCount() != static_cast<int>(JournalModel::kPageSize))
            throw std::runtime_error("a first page expected");

        Figures reopen;
        for (int i = 0; i < rounds; ++i) {
            w->close();
            form.activateWindow();
            if (!QTest::qWaitFor([&] { return QApplication::activeWindow() == &form; }, 2000))
                return 1;
            clock.restart();
            QTest::keyClick(&form, Qt::Key_J, Qt::ControlModifier);
            answered(*w);
            painted(*w);
            reopen.add(since(clock));
        }
        reopen.print("Ctrl+J again: the server's records read again");

        // Typed as a user types: the window asks for the last keystroke's filter.
        Figures serial, cleared;
        for (int i = 0; i < rounds; ++i) {
            w->SerialEdit->clear();
            answered(*w);
            const QString number = QString::number(kFirstSerial + static_cast<std::uint32_t>(i * 7) % kSerials);
            QTest::keyClicks(w->SerialEdit, number.left(number.size() - 1));
            answered(*w);
            clock.restart();
            QTest::keyClick(w->SerialEdit, number.back().toLatin1());
            answered(*w);
            painted(*w);
            serial.add(since(clock));
            if (w->Model->rowCount() != kRecords / static_cast<int>(kSerials))
                throw std::runtime_error("wrong count for " + number.toStdString());
            clock.restart();
            w->SerialEdit->clear();
            answered(*w);
            painted(*w);
            cleared.add(since(clock));
        }
        serial.print("the last keystroke of a serial: its 100 records");
        cleared.print("the serial cleared: every PC's newest again");

        // Scrolling to the end: each page as large as all read before.
        w->Table->setFocus();
        while (w->Model->rowCount() < 25600 && w->Model->canFetchMore({})) {
            const int before = w->Model->rowCount();
            clock.restart();
            QTest::keyClick(w->Table, Qt::Key_End, Qt::ControlModifier);
            if (!QTest::qWaitFor([&] { return w->Model->rowCount() > before && !w->waiting(); }, kAnswerLimitMs))
                throw std::runtime_error("no page came");
            painted(*w);
            std::printf("  scrolled to the end of %6d rows: now %6d, %.1f ms\n", before, w->Model->rowCount(), since(clock));
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "journal_server_window_bench: %s\n", e.what());
        return 1;
    }
    return 0;
}
