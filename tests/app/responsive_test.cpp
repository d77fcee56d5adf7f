// The windows while the controller is waited for: they keep painting, say what
// they wait for, run an exchange asked for meanwhile after the current one,
// let the port search be cancelled, and ask before a close abandons a wait.
#include "Device.h"
#include "EmulatorProcess.h"
#include "ExchangeThread.h"
#include "FakeDialogs.h"
#include "ParametrsEdit.h"
#include "PortSettingStore.h"
#include "TempDir.h"
#include "WaitNote.h"
#include "WindowDriving.h"
#include "Z58main.h"

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <chrono>
#include <gtest/gtest.h>

namespace {

using SteadyClock = std::chrono::steady_clock;

long long msSince(SteadyClock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - t).count();
}

struct ResponsiveTest : ::testing::Test, IsolatedSetup {
    FakeDialogs dialogs;
    std::unique_ptr<EmulatorProcess> silent(const char* port = "COM7") {
        return std::make_unique<EmulatorProcess>(std::vector<std::string>{"--register", port, "--silent"});
    }
    static void show(QWidget& w) { shown(w); }
    // Runs f once, this many ms into whatever the window is waiting for.
    static void during(int ms, std::function<void()> f) { QTimer::singleShot(ms, qApp, std::move(f)); }
    static QLabel* waitLine(QWidget& w) { return w.findChild<QLabel*>("WaitLine"); }
    static QDialog* searchBox() {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == "SearchBox" && w->isVisible())
                return static_cast<QDialog*>(w);
        return nullptr;
    }
};

// Counts the paints of a widget.
struct PaintCounter : QObject {
    int paints = 0;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

} // namespace

TEST(wait_note, text_says_seconds_waited_of_the_limit) {
    EXPECT_EQ(WaitNote::waitText(0, 20000), "Ожидание ответа устройства… 0 с из 20");
    EXPECT_EQ(WaitNote::waitText(3999, 4000), "Ожидание ответа устройства… 3 с из 4");
}

TEST_F(ResponsiveTest, a_silent_wait_paints_and_says_what_it_waits_for) {
    auto emu = silent();
    portSettingStore().write("COM7");
    TMainForm f(dialogs);
    show(f);
    PaintCounter counter;
    f.installEventFilter(&counter);
    QTimer repaint;
    QObject::connect(&repaint, &QTimer::timeout, &f, [&] { f.update(); });
    repaint.start(50);
    QString early, late;
    bool earlyShown = true, waitCursor = false;
    during(150, [&] { earlyShown = waitLine(f) && waitLine(f)->isVisible(); });
    during(1300, [&] {
        late = waitLine(f) ? waitLine(f)->text() : QString();
        waitCursor = QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor;
    });
    const auto t0 = SteadyClock::now();
    click(f.GetSerialButton);
    EXPECT_LT(msSince(t0), 100) << "the click returns at once";
    ASSERT_TRUE(settled(f));
    EXPECT_GE(msSince(t0), 3900) << "the time limit is unchanged";
    EXPECT_FALSE(earlyShown) << "nothing shown for a short wait";
    EXPECT_EQ(late, "Ожидание ответа устройства… 1 с из 4");
    EXPECT_TRUE(waitCursor);
    EXPECT_GT(counter.paints, 40) << "the window kept painting through the 4 s wait";
    EXPECT_EQ(waitLine(f), nullptr) << "gone when the wait ends";
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    ASSERT_EQ(dialogs.texts(), std::vector<QString>{"Устройство не подключено или занято."});
}

TEST_F(ResponsiveTest, a_click_during_a_wait_runs_its_exchange_after_it) {
    auto emu = silent();
    portSettingStore().write("COM7");
    TMainForm f(dialogs);
    show(f);
    size_t boxesWhenClicked = 99;
    during(500, [&] {
        boxesWhenClicked = dialogs.asked.size();
        QTest::mouseClick(f.GetVersionButton, Qt::LeftButton); // the user, impatient
    });
    const auto t0 = SteadyClock::now();
    click(f.GetSerialButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialogs.asked.size() == 1; }, 6000));
    EXPECT_GE(msSince(t0), 3900);
    EXPECT_EQ(boxesWhenClicked, 0u);
    EXPECT_EQ(dialogs.asked[0].text, "Устройство не подключено или занято.") << "the Serial exchange ended first";
    ASSERT_TRUE(settled(f));
    ASSERT_EQ(dialogs.asked.size(), 2u);
    EXPECT_GE(msSince(t0), 7900) << "the Version exchange ran after it, not inside it";
    EXPECT_EQ(dialogs.asked[1].text, "Устройство не подключено или занято");
    EXPECT_TRUE(dialogs.errors.empty());
}

TEST_F(ResponsiveTest, closing_during_a_wait_asks_and_abandons_it_at_once) {
    auto emu = silent();
    portSettingStore().write("COM7");
    TMainForm f(dialogs);
    show(f);
    during(500, [&] { f.windowHandle()->close(); }); // the title bar's close button
    const auto t0 = SteadyClock::now();
    click(f.GetSerialButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !f.isVisible(); }, 3000));
    EXPECT_LT(msSince(t0), 1500) << "the reply is not waited for";
    ASSERT_TRUE(QTest::qWaitFor([&] { return !f.busy(); }, 1500)) << "the wait was cut short";
    QTest::qWait(50);
    ASSERT_EQ(dialogs.texts(), std::vector<QString>{"Идет обмен с устройством. Прервать и выйти?"})
        << "and nothing is reported after";
}

TEST_F(ResponsiveTest, quitting_during_an_exchange_ends_it_and_joins_its_thread_in_time) {
    auto emu = silent();
    portSettingStore().write("COM7");
    auto f = std::make_unique<TMainForm>(dialogs);
    show(*f);
    click(f->GetSerialButton);
    QTest::qWait(300);
    ASSERT_TRUE(f->busy()) << "the reply is still awaited";
    const auto t0 = SteadyClock::now();
    f.reset(); // the program ends with the main window
    EXPECT_LT(msSince(t0), 1000) << "the wait is cut short and the runner's thread joined";
    QTest::qWait(50);
    EXPECT_TRUE(dialogs.texts().empty()) << "nothing is shown of the exchange left";
}

TEST_F(ResponsiveTest, closing_during_a_wait_answered_cancel_keeps_waiting) {
    auto emu = silent();
    portSettingStore().write("COM7");
    TMainForm f(dialogs);
    show(f);
    dialogs.answers = {Answer::Cancel};
    during(500, [&] { f.windowHandle()->close(); });
    const auto t0 = SteadyClock::now();
    click(f.GetSerialButton);
    ASSERT_TRUE(settled(f));
    EXPECT_GE(msSince(t0), 3900);
    EXPECT_TRUE(f.isVisible());
    ASSERT_EQ(dialogs.asked.size(), 2u);
    EXPECT_EQ(dialogs.asked[1].text, "Устройство не подключено или занято.");
}

TEST_F(ResponsiveTest, sound_job_shows_stop_and_preparing_before_the_long_begin_wait) {
    auto emu = silent();
    portSettingStore().write("COM7");
    TMainForm f(dialogs);
    show(f);
    QString caption, wait;
    bool logged = false;
    during(1200, [&] {
        caption = f.WaveUpdateButton->text();
        logged = f.Memo1->toPlainText().contains("Подготовка к записи, ждите...");
        wait = waitLine(f) ? waitLine(f)->text() : QString();
        f.windowHandle()->close(); // and leave: 20 s is long for a test
    });
    click(f.WaveUpdateButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !f.isVisible(); }, 3000));
    EXPECT_EQ(caption, "Стоп");
    EXPECT_TRUE(logged);
    EXPECT_EQ(wait, "Ожидание ответа устройства… 1 с из 20");
    ASSERT_EQ(dialogs.asked.size(), 2u);
    EXPECT_EQ(dialogs.asked[1].text, "Идет обновление. Прервать и выйти?") << "the sound job has begun";
}

TEST_F(ResponsiveTest, port_search_shows_the_port_asked_and_escape_ends_it_as_not_found) {
    auto emu2 = silent("COM2");
    auto emu3 = silent("COM3");
    auto controller = std::make_unique<EmulatorProcess>(std::vector<std::string>{"--register", "COM4"});
    portSettingStore().write("COM9");
    TMainForm f(dialogs);
    show(f);
    QString asking, stopping;
    during(700, [&] {
        if (QDialog* box = searchBox()) {
            asking = box->findChild<QLabel*>("SearchPort")->text();
            QTest::keyClick(box, Qt::Key_Escape);
            stopping = box->findChild<QLabel*>("SearchPort")->text();
        }
    });
    const auto t0 = SteadyClock::now();
    click(f.FindPortButton);
    ASSERT_TRUE(settled(f));
    EXPECT_LT(msSince(t0), 2500) << "the port being asked is not waited out";
    EXPECT_EQ(asking, "Поиск: COM2…");
    EXPECT_EQ(stopping, "Поиск прерван, ждите…");
    EXPECT_EQ(searchBox(), nullptr);
    ASSERT_EQ(dialogs.texts(), std::vector<QString>{"Устройство не найдено"});
    EXPECT_EQ(portSettingStore().read(), "COM9");
    EXPECT_EQ(f.CurrentDevice->PortName(), "COM9");
    EXPECT_EQ(f.PortComboBox->currentText(), "COM9");
}

TEST_F(ResponsiveTest, port_search_cancel_button_works_too_and_a_quick_search_shows_no_box) {
    auto controller = std::make_unique<EmulatorProcess>(std::vector<std::string>{"--register", "COM3"});
    TMainForm f(dialogs);
    show(f);
    bool boxSeen = false;
    during(20, [&] { boxSeen = searchBox() != nullptr; });
    click(f.FindPortButton);
    ASSERT_TRUE(settled(f));
    EXPECT_FALSE(boxSeen);
    ASSERT_EQ(dialogs.asked.size(), 1u);
    EXPECT_EQ(dialogs.asked[0].caption, "Устройство найдено");

    auto emu2 = silent("COM2");
    dialogs.asked.clear();
    during(700, [&] {
        if (QDialog* box = searchBox())
            QTest::mouseClick(box->findChild<QPushButton*>("SearchCancel"), Qt::LeftButton);
    });
    const auto t0 = SteadyClock::now();
    click(f.FindPortButton);
    ASSERT_TRUE(settled(f));
    EXPECT_LT(msSince(t0), 2500);
    ASSERT_EQ(dialogs.texts(), std::vector<QString>{"Устройство не найдено"});
    EXPECT_EQ(portSettingStore().read(), "COM3") << "the earlier find stays remembered";
}

TEST_F(ResponsiveTest, editor_send_shows_the_wait_and_closing_asks) {
    auto emu = silent();
    portSettingStore().write("COM7");
    TMainForm f(dialogs);
    TParametersEditForm editor(dialogs, &f.runner(), &f);
    editor.Params = f.Parameters();
    show(editor);
    QString wait;
    during(1200, [&] {
        wait = waitLine(editor) ? waitLine(editor)->text() : QString();
        editor.windowHandle()->close();
    });
    auto* menu = editor.findChild<QMenuBar*>();
    ASSERT_NE(menu, nullptr);
    const auto t0 = SteadyClock::now();
    QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(editor.SendAction).center());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !editor.isVisible(); }, 3000));
    EXPECT_LT(msSince(t0), 2500);
    EXPECT_EQ(wait, "Ожидание ответа устройства… 1 с из 4");
    ASSERT_EQ(dialogs.texts(), (std::vector<QString>{"Записать настройки в устройство?",
                                                     "Идет обмен с устройством. Прервать и закрыть окно?"}));
    EXPECT_FALSE(editor.isVisible());
}
