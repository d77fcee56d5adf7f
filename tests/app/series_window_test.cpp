// The series window on shown windows: reached from the main window by its
// button and Ctrl+E, set up by typing and choosing, refused before anything is
// sent when the reference cannot be written, units coming in as emulated
// controllers are plugged in (and a done one plugged in again left alone until
// asked again), a failing unit's row, Stop during an upload, closing mid-run,
// and the set-up kept between runs.
#include "EmulatorProcess.h"
#include "FakeDialogs.h"
#include "MainButtons.h"
#include "JobRecord.h"
#include "JournalStore.h"
#include "SeriesModel.h"
#include "SeriesSetting.h"
#include "SeriesWindow.h"
#include "TempDir.h"
#include "WaitFor.h"
#include "WindowDriving.h"
#include "Z58main.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTableView>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

namespace fs = std::filesystem;

std::string u8(const fs::path& p) { return p.u8string(); }

// An emulated controller on one port that can be unplugged and plugged in
// again like a cable. On POSIX through its control FIFO: the same controller
// (settings and all) comes back on a new line. Under Wine the broker links a
// line once, so it is ended and started again with the same serial number.
class Unit {
public:
    Unit(const TempDir& dir, const std::string& port, std::uint32_t serial, std::vector<std::string> extra = {})
        : port_(port), log_(dir / ("emu-" + port + ".jsonl")) {
        args_ = {"--register", port, "--serial", std::to_string(serial), "--log", log_};
        args_.insert(args_.end(), extra.begin(), extra.end());
#ifndef _WIN32
        fifo_ = dir / ("control-" + port);
        portLink_ = dir / ("ports/" + port);
        args_.insert(args_.end(), {"--control", fifo_});
#endif
        emu_ = std::make_unique<EmulatorProcess>(args_);
    }
    void unplug() {
#ifdef _WIN32
        emu_.reset();
#else
        tell("unplug");
        ASSERT_TRUE(QTest::qWaitFor([&] { return !fs::exists(portLink_); }, 3000)) << port_;
#endif
    }
    void plug() {
#ifdef _WIN32
        emu_ = std::make_unique<EmulatorProcess>(args_);
#else
        tell("plug");
        emu_->waitReady(3000);
#endif
    }
    std::string log() const { return readWhole(log_); }
    // How many frames of that type the controller received.
    int frames(int type) const {
        const std::string l = log(), needle = "{\"type\":" + std::to_string(type) + ",";
        int n = 0;
        for (size_t at = l.find(needle); at != std::string::npos; at = l.find(needle, at + 1))
            ++n;
        return n;
    }

private:
#ifndef _WIN32
    void tell(const std::string& line) {
        const int fd = ::open(fifo_.c_str(), O_WRONLY | O_NONBLOCK);
        ASSERT_GE(fd, 0) << fifo_;
        const std::string t = line + "\n";
        ASSERT_EQ(::write(fd, t.data(), t.size()), static_cast<ssize_t>(t.size()));
        ::close(fd);
    }
    std::string fifo_, portLink_;
#endif
    std::string port_, log_;
    std::vector<std::string> args_;
    std::unique_ptr<EmulatorProcess> emu_;
};

constexpr int kFrameCommit = 190;    // an upload's CRC check
constexpr int kFrameFragment = 192;  // an upload's block
constexpr int kFrameRestart = 15;
constexpr int kFrameSettings = 201;  // a settings write

const char kOwnSettings[] = "PinCod=4821\\nMicLevel=10\\n";

struct SeriesWindowTest : ::testing::Test, IsolatedSetup {
    FakeDialogs dialogs;

    // A reference settings file, as an editor saves one.
    std::string reference(const std::string& text = "PinCod=1111\r\nMicLevel=7\r\nAutoStart=2\r\n",
                          const char* name = "эталон.txt") {
        const std::string path = u8(dir.path / fs::u8path(name));
        std::ofstream(fs::u8path(path), std::ios::binary) << text;
        return path;
    }
    std::string sheets() const { return u8(dir.path / fs::u8path("листы")); }

    static SeriesWindow& open(TMainForm& f) {
        f.activateWindow();
        EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == &f; }, 3000));
        click(f.SeriesButton);
        SeriesWindow* w = f.seriesWindow();
        [&] {
            ASSERT_NE(w, nullptr) << "the button opens the series window";
            ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
            ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == w; }, 3000)) << "in front";
        }();
        return *w;
    }
    // Types any text, Cyrillic too (QTest::keyClicks knows only ASCII keys).
    static void retype(QLineEdit* edit, const std::string& utf8) {
        QTest::mouseClick(edit, Qt::LeftButton);
        QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(edit, Qt::Key_Delete);
        for (const QChar c : QString::fromStdString(utf8)) {
            QTest::sendKeyEvent(QTest::Press, edit, Qt::Key_unknown, QString(c), Qt::NoModifier);
            QTest::sendKeyEvent(QTest::Release, edit, Qt::Key_unknown, QString(c), Qt::NoModifier);
        }
        ASSERT_EQ(edit->text().toStdString(), utf8);
    }
    static void pick(QComboBox* box, int index) {
        box->setFocus(Qt::TabFocusReason);
        QTest::keyClick(box, Qt::Key_Home);
        for (int i = 0; i < index; ++i)
            QTest::keyClick(box, Qt::Key_Down);
        ASSERT_EQ(box->currentIndex(), index) << box->objectName().toStdString();
    }
    static void typeCount(QSpinBox* spin, int n) {
        spin->setFocus(Qt::TabFocusReason);
        QTest::keyClick(spin, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(spin, QString::number(n));
        QTest::keyClick(spin, Qt::Key_Tab);
        ASSERT_EQ(spin->value(), n);
    }
    // The set-up most tests use, typed and chosen as a user does.
    void setUp(SeriesWindow& w, const std::string& ports, int expected = 0) {
        dialogs.files = {QString::fromStdString(reference()), QString::fromStdString(sheets())};
        click(w.ReferenceButton);
        click(w.SheetsButton);
        retype(w.PortsEdit, ports);
        if (expected > 0)
            typeCount(w.ExpectedSpin, expected);
    }
    static QString cell(const SeriesWindow& w, int row, int column) {
        return w.Model->index(row, column).data().toString();
    }
    static QString marks(const SeriesWindow& w, int row) {
        QString out;
        for (int c = SeriesModel::FirstStep; c < SeriesModel::Time; ++c)
            out += cell(w, row, c).isEmpty() ? QString(" ") : cell(w, row, c);
        return out;
    }
    static bool rowsSoon(const SeriesWindow& w, int n, int ms = 20000) {
        return QTest::qWaitFor([&] { return w.Model->rowCount() >= n; }, ms);
    }
    static bool endedSoon(const SeriesWindow& w, int ms = 30000) {
        return QTest::qWaitFor([&] { return !w.running(); }, ms);
    }
    static bool rowEndedSoon(const SeriesWindow& w, int row, int ms = 20000) {
        return QTest::qWaitFor([&] {
            return w.Model->row(row) && w.Model->row(row)->outcome != jobs::UnitOutcome::Running;
        }, ms);
    }
    static void clickRow(SeriesWindow& w, int row) {
        QTest::mouseClick(w.Table->viewport(), Qt::LeftButton, {}, w.Table->visualRect(w.Model->index(row, 0)).center());
    }
    static QStringList csvLines(const std::string& path) {
        QStringList lines = QString::fromStdString(readWhole(path)).split("\r\n");
        if (!lines.isEmpty() && lines.last().isEmpty())
            lines.removeLast();
        return lines;
    }
    // Every control of the set-up and Start can be used.
    static void usable(const SeriesWindow& w) {
        EXPECT_TRUE(w.StartButton->isEnabled());
        EXPECT_TRUE(w.SetupBox->isEnabled());
        for (QWidget* c : w.SetupBox->findChildren<QWidget*>())
            EXPECT_TRUE(c->isEnabled()) << c->objectName().toStdString();
        EXPECT_FALSE(w.StopButton->isEnabled()) << "nothing to stop";
    }
};

} // namespace

TEST(series_setting, the_kept_set_up_reads_back_and_a_damaged_line_costs_only_its_choice) {
    SeriesChoices c;
    c.reference = "C:\\Мастерская\\эталон.txt";
    c.firmware = jobs::FirmwarePolicy::Never;
    c.sound = true;
    c.writeOwner = true;
    c.expected = 40;
    c.sheets = "/home/мастер/листы";
    c.csv = "итог.csv";
    c.stopOnFailure = true;
    c.ports = "COM3, COM5-COM8";
    const SeriesChoices back = parseSeriesChoices(seriesChoicesText(c));
    EXPECT_EQ(back.reference, c.reference);
    EXPECT_EQ(back.firmware, c.firmware);
    EXPECT_TRUE(back.sound && back.writeOwner && back.stopOnFailure);
    EXPECT_EQ(back.expected, 40);
    EXPECT_EQ(back.sheets, c.sheets);
    EXPECT_EQ(back.csv, c.csv);
    EXPECT_EQ(back.ports, c.ports);

    const SeriesChoices damaged =
        parseSeriesChoices("firmware=sometimes\r\nexpected=-3\r\nsound=maybe\r\nreference=a=b.txt\r\nцвет=синий\r\nsheets\r\n");
    EXPECT_EQ(damaged.firmware, jobs::FirmwarePolicy::Older) << "an unknown policy: the default";
    EXPECT_EQ(damaged.expected, 0);
    EXPECT_FALSE(damaged.sound);
    EXPECT_EQ(damaged.reference, "a=b.txt") << "only the first = splits";
    EXPECT_EQ(parseSeriesChoices("expected=99999999999999\n").expected, 0) << "no overflow";
}

TEST(series_setting, ports_typed_as_names_and_ranges) {
    std::vector<std::string> ports;
    std::string problem;
    ASSERT_TRUE(parseSeriesPorts(" com7,COM3;  COM5-COM6 COM3", ports, problem)) << problem;
    EXPECT_EQ(ports, (std::vector<std::string>{"COM3", "COM5", "COM6", "COM7"})) << "sorted, each once";
    ASSERT_TRUE(parseSeriesPorts("", ports, problem));
    EXPECT_TRUE(ports.empty()) << "none named: every port";
    ASSERT_TRUE(parseSeriesPorts("COM2-COM254", ports, problem));
    EXPECT_EQ(ports.size(), 253u);
    for (const char* bad : {"COM1", "COM255", "COM07", "7", "COM8-COM5", "COM5-", "ком5", "COM5-COM6-COM7", "LPT1"}) {
        EXPECT_FALSE(parseSeriesPorts(bad, ports, problem)) << bad;
        EXPECT_EQ(problem, "«" + std::string(bad) + "» — не порт: нужно COMn или COMn-COMm, n от 2 до 254.");
    }
}

TEST(series_model, times_and_marks_as_the_table_shows_them) {
    EXPECT_EQ(SeriesModel::durationText(0), "0:00");
    EXPECT_EQ(SeriesModel::durationText(7.4), "0:07");
    EXPECT_EQ(SeriesModel::durationText(59.6), "1:00");
    EXPECT_EQ(SeriesModel::durationText(754), "12:34");
    EXPECT_EQ(SeriesModel::durationText(3723), "1:02:03");
    EXPECT_EQ(SeriesModel::durationText(-1), "0:00") << "a clock that went back";
    jobs::UnitRow r;
    r.marks[1] = jobs::StepMark::Running;
    EXPECT_EQ(SeriesModel::outcomeText(r), "Копия…") << "the step it is in";
    EXPECT_EQ(SeriesModel::outcomeText(r, true), "прервано: окно серии закрыто");
    r.outcome = jobs::UnitOutcome::Failed;
    r.reason = "устройство не ответило";
    EXPECT_EQ(SeriesModel::outcomeText(r), "ошибка: устройство не ответило");
}

// The button and Ctrl+E open one non-modal window; every button of the main
// window stays where it was, with its text.
TEST_F(SeriesWindowTest, the_button_and_ctrl_e_open_one_window_and_the_main_buttons_keep_their_places) {
    TMainForm f(dialogs);
    shown(f);
    expectMainPartsKept(f, f.SeriesButton);
    EXPECT_EQ(f.SeriesButton->text(), "Серия");

    SeriesWindow& w = open(f);
    EXPECT_EQ(w.windowTitle(), "Серия");
    EXPECT_FALSE(w.isModal());
    EXPECT_TRUE(f.isEnabled()) << "the main window goes on working";
    EXPECT_EQ(w.FirmwareBox->itemText(0), "обновлять до 001.083, если версия старее");
    EXPECT_EQ(w.SoundCheck->text(), "Загружать звук до 609375");
    EXPECT_EQ(w.Model->headerData(SeriesModel::FirstStep, Qt::Horizontal).toString(), "Опознание");
    EXPECT_EQ(w.Model->headerData(SeriesModel::Outcome, Qt::Horizontal).toString(), "Итог");
    usable(w);
    EXPECT_FALSE(w.AgainButton->isEnabled());

    QTest::keyClick(w.Table, Qt::Key_Escape);
    EXPECT_FALSE(w.isVisible()) << "Escape closes it";
    f.activateWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == &f; }, 3000));
    QTest::keyClick(&f, Qt::Key_E, Qt::ControlModifier);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w)) << "Ctrl+E";
    EXPECT_EQ(f.seriesWindow(), &w) << "one window";
    int windows = 0;
    for (QWidget* top : QApplication::topLevelWidgets())
        windows += qobject_cast<SeriesWindow*>(top) != nullptr;
    EXPECT_EQ(windows, 1);
}

// Start checks the set-up first: without a reference, with one that cannot be
// read or written, or with ports that are no ports, a box says why and no
// controller hears a thing.
TEST_F(SeriesWindowTest, a_set_up_that_cannot_work_is_refused_before_anything_is_sent) {
    Unit unit(dir, "COM7", 501, {"--settings-text", kOwnSettings});
    TMainForm f(dialogs);
    shown(f);
    SeriesWindow& w = open(f);
    retype(w.PortsEdit, "COM7");

    const auto refused = [&](const QString& expected) {
        const size_t before = dialogs.asked.size();
        click(w.StartButton);
        ASSERT_EQ(dialogs.asked.size(), before + 1);
        EXPECT_EQ(dialogs.asked.back().caption, "Серия");
        EXPECT_EQ(dialogs.asked.back().text, expected);
        EXPECT_FALSE(w.running());
        EXPECT_EQ(w.series(), nullptr) << "nothing started";
        usable(w);
    };
    refused("Выберите файл настроек: его настройки запишутся в каждое устройство серии.");

    const std::string missing = u8(dir.path / fs::u8path("нет такого.txt"));
    retype(w.ReferenceEdit, missing);
    click(w.StartButton);
    ASSERT_FALSE(dialogs.asked.empty());
    EXPECT_TRUE(dialogs.asked.back().text.startsWith("Не удалось открыть файл")) << dialogs.asked.back().text.toStdString();
    EXPECT_TRUE(dialogs.asked.back().text.contains("нет такого.txt")) << "named in UTF-8 on every system";
    EXPECT_EQ(w.series(), nullptr);

    const std::string tooLoud = reference("MicLevel=99\r\nAutoStart=2\r\n", "громко.txt");
    retype(w.ReferenceEdit, tooLoud);
    click(w.StartButton);
    ASSERT_FALSE(dialogs.asked.empty());
    const QString text = dialogs.asked.back().text;
    EXPECT_TRUE(text.startsWith("Файл настроек «" + QString::fromStdString(tooLoud) +
                                "» нельзя записать в устройства серии: MicLevel: "))
        << text.toStdString();
    EXPECT_EQ(w.series(), nullptr);

    retype(w.ReferenceEdit, reference("", "пусто.txt"));
    refused("Файл настроек «" + QString::fromStdString(u8(dir.path / fs::u8path("пусто.txt"))) +
            "» нельзя записать в устройства серии: в файле нет ни одной настройки");

    retype(w.ReferenceEdit, reference());
    retype(w.PortsEdit, "COM7, COM300");
    refused("Порты серии: «COM300» — не порт: нужно COMn или COMn-COMm, n от 2 до 254.");

    QTest::qWait(700); // a list of the ports would have come by now
    EXPECT_EQ(unit.log(), "") << "no controller was asked anything";
    EXPECT_EQ(w.Model->rowCount(), 0);
}

// Units come in as they are plugged in, each identified by its serial number,
// updated when older, written with the owner's values kept, read back and given
// its sheet. Plugged in again, a done unit is left alone until its row asks for
// it again; the series ends by its count, with the CSV written.
TEST_F(SeriesWindowTest, units_come_in_as_they_are_plugged_and_a_done_one_is_done_again_only_when_asked) {
    Unit first(dir, "COM7", 101, {"--version", "001.050", "--settings-text", kOwnSettings});
    TMainForm f(dialogs);
    shown(f);
    SeriesWindow& w = open(f);
    setUp(w, "COM7-COM9", 3);
    EXPECT_EQ(w.ReferenceEdit->text().toStdString(), reference());
    EXPECT_EQ(w.SheetsEdit->text().toStdString(), sheets());
    click(w.StartButton);
    ASSERT_TRUE(w.running());
    EXPECT_FALSE(w.StartButton->isEnabled());
    EXPECT_FALSE(w.SetupBox->isEnabled()) << "the set-up holds for the whole series";
    EXPECT_TRUE(w.StopButton->isEnabled());
    EXPECT_EQ(w.StateLabel->text(), "Серия идёт: подключайте устройства.");

    ASSERT_TRUE(rowsSoon(w, 1)) << w.Log->toPlainText().toStdString();
    EXPECT_EQ(cell(w, 0, SeriesModel::Port), "COM7");
    EXPECT_EQ(cell(w, 0, SeriesModel::Serial), "101");
    ASSERT_TRUE(rowEndedSoon(w, 0, 30000)) << w.Log->toPlainText().toStdString();
    EXPECT_EQ(cell(w, 0, SeriesModel::Outcome), "выполнено") << w.Log->toPlainText().toStdString();
    EXPECT_EQ(cell(w, 0, SeriesModel::Type), "Z58 (r2)");
    EXPECT_EQ(cell(w, 0, SeriesModel::Firmware), "001.050 → 001.083");
    EXPECT_EQ(marks(w, 0), "✓✓✓—✓✓") << "no sound asked";
    EXPECT_EQ(first.frames(kFrameRestart), 1);
    const std::string written = first.log();
    EXPECT_NE(written.find("MicLevel=7"), std::string::npos) << "the reference went in";
    EXPECT_EQ(written.find("PinCod=1111"), std::string::npos) << "the owner's PIN stays the unit's own";

    // Plugged in while the series runs.
    Unit second(dir, "COM8", 102, {"--settings-text", kOwnSettings});
    ASSERT_TRUE(rowsSoon(w, 2));
    ASSERT_TRUE(rowEndedSoon(w, 1, 30000));
    EXPECT_EQ(cell(w, 1, SeriesModel::Port), "COM8");
    EXPECT_EQ(cell(w, 1, SeriesModel::Firmware), "001.083");
    EXPECT_EQ(marks(w, 1), "✓✓——✓✓") << "the same version: not updated";
    EXPECT_EQ(second.frames(kFrameFragment), 0);
    EXPECT_EQ(w.CountLabel->text(), "Выполнено: 2, не выполнено: 0, ожидается: 3");

    // Out and in again: the same controller, done already in this series.
    first.unplug();
    first.plug();
    const int settingsWrites = first.frames(kFrameSettings);
    QTest::qWait(3000); // several lists of the ports and a second ask of each
    EXPECT_EQ(w.Model->rowCount(), 2) << "a done unit is not done again by itself";
    EXPECT_EQ(first.frames(kFrameSettings), settingsWrites);
    EXPECT_TRUE(w.running());

    // Its row asks for it again: it is still plugged in, so at once.
    clickRow(w, 0);
    ASSERT_TRUE(w.AgainButton->isEnabled());
    click(w.AgainButton);
    EXPECT_TRUE(w.Log->toPlainText().contains("Устройство 101 (№1) будет подготовлено ещё раз, когда серия его снова найдёт."));
    ASSERT_TRUE(rowsSoon(w, 3, 10000)) << w.Log->toPlainText().toStdString();
    EXPECT_EQ(cell(w, 2, SeriesModel::Serial), "101");
    ASSERT_TRUE(endedSoon(w)) << "three units: the count ends it";
    EXPECT_EQ(cell(w, 2, SeriesModel::Outcome), "выполнено");
    // Updated the first time (under Wine the controller plugged in again is a new emulator of the old version).
    EXPECT_TRUE(cell(w, 2, SeriesModel::Firmware).endsWith("001.083")) << cell(w, 2, SeriesModel::Firmware).toStdString();
    EXPECT_EQ(w.CountLabel->text(), "Выполнено: 3, не выполнено: 0, ожидается: 3");
    EXPECT_EQ(w.StateLabel->text(), "Серия закончена.");
    usable(w);

    // The CSV beside the sheets, one line per unit; a sheet per serial number.
    const std::string csv = w.series()->csvFile();
    EXPECT_EQ(fs::u8path(csv).parent_path(), fs::u8path(sheets()));
    EXPECT_EQ(w.CsvLabel->text(), "Итог серии записан: " + QString::fromStdString(csv));
    const QStringList lines = csvLines(csv);
    ASSERT_EQ(lines.size(), 4) << readWhole(csv);
    EXPECT_EQ(lines[0], "unit,port,serial,type,firmware_before,firmware_after,outcome,failed_step,reason,seconds,sheet");
    EXPECT_TRUE(lines[1].startsWith("1,COM7,101,QV_r2,001.050,001.083,done,,,")) << lines[1].toStdString();
    EXPECT_TRUE(lines[3].startsWith("3,COM7,101,QV_r2,")) << lines[3].toStdString();
    EXPECT_TRUE(lines[3].contains(",001.083,done,,,")) << lines[3].toStdString();
    for (const char* sheet : {"101.html", "102.html"})
        EXPECT_TRUE(fs::exists(fs::u8path(sheets()) / sheet)) << sheet;

    // Every job is on record with the series and the unit's number.
    journal::RecordFilter filter;
    filter.serial = 102u;
    const std::vector<journal::JobRecord> records = f.journalStore().list(filter);
    ASSERT_FALSE(records.empty());
    for (const journal::JobRecord& r : records) {
        EXPECT_EQ(r.seriesId, w.series()->id());
        EXPECT_EQ(r.unitNumber, 2);
    }
}

// A unit that fails says at which step and why; the others go on, and the
// failed one, still plugged in, is not taken again. With "остановить серию"
// a failure ends the series.
TEST_F(SeriesWindowTest, a_failing_unit_shows_its_step_and_why_and_the_others_go_on) {
    Unit other(dir, "COM7", 201, {"--type", "QV_r9"});
    Unit forgetful(dir, "COM8", 202, {"--drop-key", "MicLevel", "--settings-text", kOwnSettings});
    Unit good(dir, "COM9", 203, {"--settings-text", kOwnSettings});
    TMainForm f(dialogs);
    shown(f);
    SeriesWindow& w = open(f);
    setUp(w, "COM7 COM8 COM9");
    click(w.StartButton);
    ASSERT_TRUE(QTest::qWaitFor([&] {
        return w.Model->rowCount() == 3 && !w.Model->uploading() && w.CountLabel->text().startsWith("Выполнено: 1, не выполнено: 2");
    }, 30000)) << w.CountLabel->text().toStdString() << "\n" << w.Log->toPlainText().toStdString();
    std::map<QString, int> rowOf;
    for (int r = 0; r < 3; ++r)
        rowOf[cell(w, r, SeriesModel::Port)] = r;
    const int a = rowOf["COM7"], b = rowOf["COM8"], c = rowOf["COM9"];
    EXPECT_EQ(marks(w, a), "✗     ");
    EXPECT_EQ(cell(w, a, SeriesModel::Outcome), "ошибка: тип устройства «QV_r9» не совпадает с типом прошивки «QV_r2»");
    EXPECT_EQ(other.frames(kFrameSettings), 0) << "nothing written to another type";
    EXPECT_EQ(marks(w, b).left(2), "✓✓") << "identified and backed up";
    EXPECT_EQ(cell(w, b, SeriesModel::FirstStep + 4), "✗") << "the write's read-back";
    EXPECT_TRUE(cell(w, b, SeriesModel::Outcome).startsWith("ошибка: ")) << cell(w, b, SeriesModel::Outcome).toStdString();
    EXPECT_EQ(w.Model->index(b, SeriesModel::Outcome).data(Qt::ForegroundRole).value<QBrush>().color(), QColor(160, 0, 0));
    EXPECT_EQ(cell(w, c, SeriesModel::Outcome), "выполнено");

    QTest::qWait(3000); // the failed units stay plugged in past a second ask
    EXPECT_EQ(w.Model->rowCount(), 3) << "a failed unit still plugged in is not taken again by itself";
    EXPECT_TRUE(w.running()) << "go on: the series waits for more";
    click(w.StopButton);
    ASSERT_TRUE(endedSoon(w));
    const QStringList lines = csvLines(w.series()->csvFile());
    ASSERT_EQ(lines.size(), 4);
    EXPECT_TRUE(lines.filter(",201,QV_r9,001.083,,failed,identify,").size() == 1) << lines.join("\n").toStdString();
    EXPECT_EQ(lines.filter(",failed,settings,").size(), 1) << lines.join("\n").toStdString();

    // Stop on a failure: the other type fails at once and the series ends by itself.
    pick(w.FailureBox, 1);
    retype(w.PortsEdit, "COM7");
    click(w.StartButton);
    ASSERT_TRUE(endedSoon(w)) << w.Log->toPlainText().toStdString();
    ASSERT_EQ(w.Model->rowCount(), 1);
    EXPECT_TRUE(cell(w, 0, SeriesModel::Outcome).startsWith("ошибка: тип устройства"));
    EXPECT_EQ(w.StateLabel->text(), "Серия закончена.");
    usable(w);
}

// Stop during an upload: no new unit starts, the upload finishes on the
// controller (its CRC checked, the restart sent), then the series ends, its
// CSV is written and every control can be used again; Start runs again.
TEST_F(SeriesWindowTest, stop_during_an_upload_lets_it_finish_and_then_every_control_is_usable) {
    Unit slow(dir, "COM7", 301, {"--version", "001.050", "--slow", "25", "--settings-text", kOwnSettings});
    TMainForm f(dialogs);
    shown(f);
    SeriesWindow& w = open(f);
    setUp(w, "COM7-COM8");
    click(w.StartButton);
    ASSERT_TRUE(QTest::qWaitFor([&] {
        const jobs::UnitRow* r = w.Model->row(0);
        return r && r->progressMaximum > 0 && r->progress * 5 >= r->progressMaximum;
    }, 30000)) << w.Log->toPlainText().toStdString();

    // The bar is drawn in the outcome cell: its filled start differs from its empty end.
    const QRect outcome = w.Table->visualRect(w.Model->index(0, SeriesModel::Outcome));
    const QImage shot = w.Table->viewport()->grab(outcome).toImage();
    const auto column = [&](double at) {
        const int x = static_cast<int>(shot.width() * at);
        long sum = 0;
        for (int y = shot.height() / 4; y < shot.height() * 3 / 4; ++y)
            sum += qGray(shot.pixel(x, y));
        return sum / std::max(1, shot.height() / 2);
    };
    EXPECT_GT(std::abs(column(0.06) - column(0.94)), 20) << "a bar part filled";
    EXPECT_TRUE(w.Model->uploading());

    click(w.StopButton);
    EXPECT_FALSE(w.StopButton->isEnabled());
    EXPECT_FALSE(w.StartButton->isEnabled()) << "the unit is still uploading";
    EXPECT_FALSE(w.SetupBox->isEnabled());
    EXPECT_EQ(w.StateLabel->text(), "Серия останавливается: начатые устройства заканчивают то, что делают.");
    Unit late(dir, "COM8", 302, {"--settings-text", kOwnSettings});
    ASSERT_TRUE(endedSoon(w, 60000)) << w.Log->toPlainText().toStdString();

    ASSERT_EQ(w.Model->rowCount(), 1) << "no unit starts after Stop";
    // While the stopped unit restarts, a new port is only asked who it is (it could be that unit).
    for (const QString& frame : QString::fromStdString(late.log()).split('\n', Qt::SkipEmptyParts))
        EXPECT_TRUE(frame.startsWith("{\"type\":10,")) << frame.toStdString();
    EXPECT_EQ(slow.frames(kFrameCommit), 1) << "the upload was finished and checked";
    EXPECT_EQ(slow.frames(kFrameRestart), 1);
    EXPECT_EQ(cell(w, 0, SeriesModel::Firmware), "001.050 → 001.083");
    EXPECT_EQ(marks(w, 0), "✓✓✓—  ") << "no step after the upload (the sound bank was not asked for)";
    EXPECT_EQ(cell(w, 0, SeriesModel::Outcome), "остановлено");
    EXPECT_EQ(slow.frames(kFrameSettings), 0);
    EXPECT_EQ(w.CountLabel->text(), "Выполнено: 0, не выполнено: 1");
    EXPECT_EQ(w.StateLabel->text(), "Серия закончена.");
    const std::string csv = w.series()->csvFile();
    EXPECT_EQ(w.CsvLabel->text(), "Итог серии записан: " + QString::fromStdString(csv));
    const QStringList lines = csvLines(csv);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[1].startsWith("1,COM7,301,QV_r2,001.050,001.083,stopped,settings,серия остановлена,"))
        << lines[1].toStdString();
    usable(w);
    EXPECT_FALSE(w.Model->uploading());

    // Start again: both units, the stopped one finished this time.
    typeCount(w.ExpectedSpin, 2);
    click(w.StartButton);
    ASSERT_TRUE(w.running());
    ASSERT_TRUE(endedSoon(w, 60000)) << w.Log->toPlainText().toStdString();
    ASSERT_EQ(w.Model->rowCount(), 2) << "a new series: a table of its own";
    for (int r = 0; r < 2; ++r)
        EXPECT_EQ(cell(w, r, SeriesModel::Outcome), "выполнено") << r;
    EXPECT_NE(csvLines(w.series()->csvFile()).size(), 0);
    usable(w);
}

// Closing the window mid-run asks first (with real boxes); OK drops the
// series, its jobs on record as interrupted. The main window asks too, and
// once it goes, the series goes first, in order.
TEST_F(SeriesWindowTest, closing_during_a_run_asks_first_and_the_programs_end_drops_the_series_in_order) {
    Unit slow(dir, "COM7", 401, {"--version", "001.050", "--slow", "25", "--settings-text", kOwnSettings});
    QtDialogs real;
    RealBoxes boxes;
    const std::string path = reference();
    std::string seriesId;
    {
        TMainForm f(real);
        shown(f);
        SeriesWindow& w = open(f);
        retype(w.ReferenceEdit, path);
        retype(w.PortsEdit, "COM7");
        click(w.StartButton);
        ASSERT_TRUE(QTest::qWaitFor([&] { return w.uploading(); }, 30000)) << w.Log->toPlainText().toStdString();

        boxes.keys = {Qt::Key_Escape};
        w.close();
        ASSERT_EQ(boxes.texts.size(), 1u);
        EXPECT_EQ(boxes.texts.back(), "Идет обновление. Прервать серию и закрыть окно?");
        EXPECT_EQ(boxes.captions.back(), "Внимание");
        EXPECT_TRUE(w.isVisible());
        EXPECT_TRUE(w.running()) << "Отмена: the series goes on";

        boxes.keys = {Qt::Key_Escape};
        f.close();
        ASSERT_EQ(boxes.texts.size(), 2u);
        EXPECT_EQ(boxes.texts.back(), "Идет обновление. Прервать и выйти?") << "the main window asks for the series too";
        EXPECT_TRUE(f.isVisible());
        const int blocks = slow.frames(kFrameFragment);
        ASSERT_TRUE(QTest::qWaitFor([&] { return slow.frames(kFrameFragment) > blocks; }, 5000)) << "the upload goes on";

        boxes.keys = {Qt::Key_Return};
        w.close();
        ASSERT_EQ(boxes.texts.size(), 3u);
        EXPECT_FALSE(w.isVisible());
        EXPECT_FALSE(w.running());
        EXPECT_EQ(w.series(), nullptr);
        EXPECT_EQ(w.Model->index(0, SeriesModel::Outcome).data().toString(), "прервано: окно серии закрыто");
        const int after = slow.frames(kFrameFragment);
        QTest::qWait(300);
        EXPECT_LE(slow.frames(kFrameFragment), after + 1) << "the block being sent at most";
        EXPECT_EQ(slow.frames(kFrameCommit), 0);
        journal::RecordFilter filter;
        filter.kind = journal::JobKind::Firmware;
        const auto firmware = f.journalStore().list(filter);
        ASSERT_EQ(firmware.size(), 1u);
        EXPECT_EQ(firmware[0].outcome, journal::JobOutcome::Interrupted);
        EXPECT_EQ(firmware[0].unitNumber, 1);
        EXPECT_FALSE(firmware[0].seriesId.empty());
        f.close();
        EXPECT_FALSE(f.isVisible()) << "nothing runs: no question";
        EXPECT_EQ(boxes.texts.size(), 3u);

        // Again, and this time the program ends with the series running.
        shown(f);
        open(f);
        click(w.StartButton);
        ASSERT_TRUE(QTest::qWaitFor([&] { return w.running() && w.uploading(); }, 30000));
        seriesId = w.series()->id();
    }
    // The main window went: the series first, its running job on record as cut
    // short while the journal was still there.
    journal::JournalStore store;
    std::vector<journal::JobRecord> records;
    for (const journal::JobRecord& r : store.list())
        if (r.seriesId == seriesId)
            records.push_back(r);
    ASSERT_GE(records.size(), 2u) << "its backup and its firmware";
    EXPECT_EQ(records.front().kind, journal::JobKind::Firmware) << journal::kindName(records.front().kind);
    EXPECT_EQ(records.front().outcome, journal::JobOutcome::Interrupted);
    for (size_t i = 1; i < records.size(); ++i)
        EXPECT_EQ(records[i].outcome, journal::JobOutcome::Done) << journal::kindName(records[i].kind);
}

// The set-up as it was left: typed, chosen, started, and there again in the
// next program run.
TEST_F(SeriesWindowTest, the_set_up_is_kept_for_the_next_run) {
    const std::string csv = u8(dir.path / fs::u8path("итог.csv"));
    {
        TMainForm f(dialogs);
        shown(f);
        SeriesWindow& w = open(f);
        setUp(w, "COM20-COM21", 12);
        pick(w.FirmwareBox, 2);
        click(w.SoundCheck);
        pick(w.OwnerBox, 1);
        pick(w.FailureBox, 1);
        dialogs.files = {QString::fromStdString(csv)};
        click(w.CsvButton);
        EXPECT_EQ(dialogs.lastFilter, "таблица CSV | *.csv");
        click(w.StartButton);
        ASSERT_TRUE(w.running());
        EXPECT_EQ(w.CsvLabel->text(), "Итог серии записывается после каждого устройства в " + QString::fromStdString(csv));
        click(w.StopButton);
        ASSERT_TRUE(endedSoon(w, 5000)) << "no unit ran: it ends at once";
        EXPECT_EQ(csvLines(csv), QStringList({"unit,port,serial,type,firmware_before,firmware_after,outcome,failed_step,"
                                              "reason,seconds,sheet"}))
            << "written at Stop";
    }
    TMainForm f(dialogs);
    shown(f);
    SeriesWindow& w = open(f);
    EXPECT_EQ(w.ReferenceEdit->text().toStdString(), reference());
    EXPECT_EQ(w.FirmwareBox->currentIndex(), 2);
    EXPECT_TRUE(w.SoundCheck->isChecked());
    EXPECT_EQ(w.OwnerBox->currentIndex(), 1);
    EXPECT_EQ(w.ExpectedSpin->value(), 12);
    EXPECT_EQ(w.SheetsEdit->text().toStdString(), sheets());
    EXPECT_EQ(w.CsvEdit->text().toStdString(), csv);
    EXPECT_EQ(w.FailureBox->currentIndex(), 1);
    EXPECT_EQ(w.PortsEdit->text(), "COM20-COM21");
}
