// The main window against the emulator over a pty, with the fake dialogs.
#include "Device.h"
#include "EmulatorProcess.h"
#include "FakeDialogs.h"
#include "FakeSysfs.h"
#include "PortSettingStore.h"
#include "ParametrsEdit.h"
#include "TempDir.h"
#include "WaitFor.h"
#include "ExchangeThread.h"
#include "UploadSlot.h"
#include "WindowDriving.h"
#include "Z58main.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace {

struct MainWindowTest : ::testing::Test, IsolatedSetup {
    FakeDialogs dialogs;

#ifdef _WIN32
    // The registry value, with the line end the file store writes on POSIX.
    void remember(const std::string& port) { portSettingStore().write(port); }
    std::string remembered() { return portSettingStore().read() + "\n"; }
#else
    void remember(const std::string& port) {
        std::filesystem::create_directories(dir / "config/z58");
        std::ofstream(dir / "config/z58/port") << port << "\n";
    }
    std::string remembered() { return readWhole(dir / "config/z58/port"); }
#endif
    std::unique_ptr<EmulatorProcess> emulator(std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {"--register", "COM7", "--log", dir / "emu.jsonl"};
        args.insert(args.end(), extra.begin(), extra.end());
        return std::make_unique<EmulatorProcess>(args);
    }
    std::string emuLog() { return readWhole(dir / "emu.jsonl"); }
    static QStringList log(TMainForm& f) { return f.Memo1->toPlainText().split('\n', Qt::SkipEmptyParts); }
    static std::string devicePort(TMainForm& f) { return f.CurrentDevice->PortName(); }
    // The emulator's log lines of one frame type.
    int frames(int type) {
        const std::string log = emuLog(), needle = "{\"type\":" + std::to_string(type) + ",";
        int n = 0;
        for (size_t at = log.find(needle); at != std::string::npos; at = log.find(needle, at + 1))
            ++n;
        return n;
    }
};

} // namespace

TEST_F(MainWindowTest, captions_from_the_embedded_data_and_the_tab_order_a_user_walks) {
    TMainForm f(dialogs);
    shown(f);
    EXPECT_EQ(f.windowTitle(), "Z58     Версия: 001.083");
    EXPECT_EQ(f.BlowUpdateButton->text(), "Обновить прошивку до 001.083");
    EXPECT_EQ(f.WaveUpdateButton->text(), "Обновить звук до 609375");
    EXPECT_EQ(f.PortComboBox->count(), 254);
    EXPECT_EQ(f.PortComboBox->itemText(0), "COM2");
    EXPECT_EQ(f.PortComboBox->itemText(253), "COM255");
    EXPECT_EQ(f.Memo1->toPlainText(), "");
    EXPECT_FALSE(f.Timer1->isActive()) << "no idle ticks: the program sleeps until the user acts";
    // Every button is whole inside the window, none covers another.
    const QList<QPushButton*> buttons = f.findChildren<QPushButton*>();
    for (QPushButton* a : buttons) {
        const QRect ra(a->mapTo(&f, QPoint(0, 0)), a->size());
        EXPECT_TRUE(f.rect().contains(ra)) << a->objectName().toStdString();
        for (QPushButton* b : buttons) {
            if (a != b) {
                EXPECT_FALSE(ra.intersects(QRect(b->mapTo(&f, QPoint(0, 0)), b->size())))
                    << a->objectName().toStdString() << " " << b->objectName().toStdString();
            }
        }
    }
    // Tab walks the window in its order, starting at Read.
    EXPECT_TRUE(f.ReadButton->hasFocus());
    QWidget* expected[] = {f.BlowUpdateButton, f.WaveUpdateButton, f.OpenFileButton, f.PortComboBox};
    for (QWidget* w : expected) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_TRUE(w->isAncestorOf(QApplication::focusWidget()) || w == QApplication::focusWidget())
            << w->objectName().toStdString();
    }
}

TEST_F(MainWindowTest, first_start_remembers_com5_and_the_device_uses_it) {
    TMainForm f(dialogs);
    shown(f);
    EXPECT_EQ(remembered(), "COM5\n");
    EXPECT_EQ(f.PortComboBox->currentText(), "COM5");
    EXPECT_EQ(devicePort(f), "COM5") << "not the empty name read before the default was written";
}

TEST_F(MainWindowTest, remembered_port_outside_the_list) {
    remember("COM1");
    TMainForm f(dialogs);
    shown(f);
    EXPECT_EQ(f.PortComboBox->currentIndex(), -1);
    EXPECT_EQ(f.PortComboBox->currentText(), "");
    EXPECT_EQ(remembered(), "COM1\n");
    EXPECT_EQ(devicePort(f), "COM1");
}

TEST_F(MainWindowTest, typing_writes_every_partial_text_and_replaces_the_device) {
    remember("COM7");
    TMainForm f(dialogs);
    shown(f);
    f.PortComboBox->lineEdit()->clear();
    EXPECT_EQ(remembered(), "\n");
    QTest::keyClicks(f.PortComboBox->lineEdit(), "COM1");
    EXPECT_EQ(remembered(), "COM1\n");
    EXPECT_EQ(devicePort(f), "COM1");
    QTest::keyClicks(f.PortComboBox->lineEdit(), "2");
    EXPECT_EQ(remembered(), "COM12\n");
    f.PortComboBox->setCurrentIndex(1);
    EXPECT_EQ(remembered(), "COM3\n");
    EXPECT_EQ(devicePort(f), "COM3");
}

TEST_F(MainWindowTest, information_buttons) {
    auto emu = emulator({"--version", "001.050", "--serial", "2147483648"});
    remember("COM7");
    TMainForm f(dialogs);
    shown(f);
    click(f.GetVersionButton);
    click(f.GetSerialButton);
    ASSERT_TRUE(settled(f));
    EXPECT_EQ(log(f), QStringList({"Тип устройства   : Z58 (r2)", "Версия прошивки : 001.050",
                                   "Серийный номер устройства -2147483648", "Журнал: записей об этом устройстве нет"}));
    EXPECT_TRUE(dialogs.asked.empty());
}

TEST_F(MainWindowTest, other_device_type_is_shown_unchanged) {
    auto emu = emulator({"--type", "qv_r2"});
    remember("COM7");
    TMainForm f(dialogs);
    shown(f);
    click(f.GetVersionButton);
    ASSERT_TRUE(settled(f));
    EXPECT_EQ(log(f).value(0), "Тип устройства   : qv_r2");
}

TEST_F(MainWindowTest, failures_show_their_boxes_and_log_nothing) {
    remember("COM9");
    TMainForm f(dialogs);
    shown(f);
    click(f.GetSerialButton);
    click(f.GetVersionButton);
    click(f.ReadButton);
    ASSERT_TRUE(settled(f));
    ASSERT_EQ(dialogs.asked.size(), 3u);
    EXPECT_EQ(dialogs.asked[0].text, "Устройство не подключено или занято.");
    EXPECT_EQ(dialogs.asked[0].caption, "Загрузка не возможна");
    EXPECT_EQ(dialogs.asked[1].text, "Устройство не подключено или занято");
    EXPECT_EQ(dialogs.asked[1].caption, "Ошибка");
    EXPECT_EQ(dialogs.asked[2].caption, "Загрузка не возможна");
    EXPECT_EQ(dialogs.modals, 0) << "no editor after a failed Read";
    EXPECT_EQ(f.Memo1->toPlainText(), "");
}

TEST_F(MainWindowTest, find_port_selects_the_emulator) {
    auto emu = std::make_unique<EmulatorProcess>(std::vector<std::string>{"--register", "COM3"});
    remember("COM9");
    TMainForm f(dialogs);
    shown(f);
    click(f.FindPortButton);
    ASSERT_TRUE(settled(f));
    EXPECT_EQ(f.PortComboBox->currentText(), "COM3");
    EXPECT_EQ(remembered(), "COM3\n");
    ASSERT_EQ(dialogs.asked.size(), 1u);
    EXPECT_EQ(dialogs.asked[0].caption, "Устройство найдено");
}

TEST_F(MainWindowTest, read_loads_the_controller_text_and_shows_the_editor) {
    auto emu = emulator({"--settings-text", "MicLevel=10\\nBogus=1\\n"});
    remember("COM7");
    TMainForm f(dialogs);
    shown(f);
    TParametersEditForm editor(dialogs, &f.runner());
    f.setEditor(&editor);
    click(f.ReadButton);
    ASSERT_TRUE(settled(f));
    EXPECT_EQ(dialogs.modals, 1);
    EXPECT_EQ(editor.Params, f.Parameters());
    EXPECT_EQ(f.Parameters()->SettingsText(), "MicLevel=10\n");
}

TEST_F(MainWindowTest, open_file) {
    TMainForm f(dialogs);
    shown(f);
    TParametersEditForm editor(dialogs, &f.runner());
    f.setEditor(&editor);
    f.Parameters()->SetValueByKey("MicLevel", "3");
    click(f.OpenFileButton); // cancelled
    EXPECT_EQ(dialogs.modals, 0);
    EXPECT_EQ(dialogs.lastFilter, "текстовые файлы настроек | *.txt");
    EXPECT_EQ(dialogs.lastSuffix, "txt");
    std::ofstream(dir / "empty.txt").close();
    dialogs.files.push_back(QString::fromStdString(dir / "empty.txt"));
    click(f.OpenFileButton);
    EXPECT_EQ(dialogs.modals, 1);
    EXPECT_EQ(f.Parameters()->SettingsText(), "") << "a zero-byte file gives every default";
    dialogs.files.push_back(QString::fromStdString(dir / "missing.txt"));
    EXPECT_THROW(f.OpenFileButtonClick(), std::runtime_error) << "shown in the error box by the handler wrapper";
    EXPECT_EQ(dialogs.modals, 1);
}

TEST_F(MainWindowTest, errors_escaping_a_handler_are_shown_and_the_program_goes_on) {
    TMainForm f(dialogs);
    shown(f);
    dialogs.files.push_back(QString::fromStdString(dir / "missing.txt"));
    QTest::mouseClick(f.OpenFileButton, Qt::LeftButton);
    ASSERT_EQ(dialogs.errors.size(), 1u);
    EXPECT_TRUE(dialogs.errors[0].contains("missing.txt"));
}

// The uploads run on the real timers and the exchange thread; the boxes they
// raise are real message boxes answered with keys.
TEST_F(MainWindowTest, firmware_job_uploads_confirms_restarts_and_restores_through_real_boxes) {
    auto emu = emulator({"--version", "001.050"});
    remember("COM7");
    QtDialogs real;
    RealBoxes boxes;
    TMainForm f(real);
    shown(f);
    click(f.BlowUpdateButton);
    EXPECT_FALSE(f.BlowUpdateButton->isEnabled()) << "off from the first question to the end of the blocks";
    EXPECT_FALSE(f.PortComboBox->isEnabled());
    ASSERT_TRUE(settled(f));
    EXPECT_EQ(f.SaveProgress->value(), 102);
    EXPECT_EQ(f.SaveProgress->maximum(), 102);
    EXPECT_TRUE(f.BlowUpdateButton->isEnabled());
    EXPECT_TRUE(f.PortComboBox->isEnabled());
    const QStringList lines = log(f);
    ASSERT_EQ(lines.size(), 5);
    EXPECT_TRUE(lines[0].startsWith("Резервная копия настроек: ")) << "taken before the update begins";
    EXPECT_EQ(lines.mid(1, 3), QStringList({"Подготовка к обновлению, ждите ...", "Загрузка новой версии программы ...",
                                            "Загрузка закончена."}));
    EXPECT_TRUE(lines[4].startsWith("Настройки восстановлены из "));
    ASSERT_EQ(boxes.texts.size(), 5u);
    EXPECT_TRUE(boxes.texts[0].startsWith("После обновления возможно произойдет сброс настроек.\n"));
    EXPECT_EQ(boxes.texts[1], "Новая версия програмы загружена.\nДля применения нужна перезагрузка.\nПерегрузить прибор сейчас ?");
    EXPECT_EQ(boxes.texts[2], "Дождитесь звукового сигнала подключения устройства и нажмите OK");
    EXPECT_EQ(boxes.captions[2], "Перезагрузка ...");
    EXPECT_EQ(boxes.captions[3], "Восстановление настроек") << "offered after the OK on the restart box";
    EXPECT_EQ(boxes.texts[4], "Настройки восстановлены.");
    EXPECT_EQ(frames(192), 102);
    EXPECT_NE(emuLog().find("\"offset\":103424,\"block\":714"), std::string::npos);
    EXPECT_EQ(frames(15), 1);
    EXPECT_FALSE(f.Timer1->isActive()) << "no idle ticks once the job is over";
}

TEST_F(MainWindowTest, firmware_version_question_and_declined_restart) {
    for (const char* version : {"001.083", "001.100"}) {
        SCOPED_TRACE(version);
        auto emu = emulator({"--version", version});
        remember("COM7");
        FakeDialogs d;
        TMainForm f(d);
        shown(f);
        d.answers = {Answer::Ok, Answer::No};
        click(f.BlowUpdateButton);
        ASSERT_TRUE(settled(f));
        ASSERT_EQ(d.asked.size(), 2u);
        EXPECT_EQ(d.asked[1].buttons, Buttons::YesNo);
        EXPECT_EQ(d.asked[1].text, "Устройство уже содержит новейшую или равную версию.\n" + QString(25, ' ') + "Обновлять или нет?");
        EXPECT_TRUE(f.BlowUpdateButton->isEnabled());
        EXPECT_EQ(frames(195), 0);
    }
    auto emu = emulator({"--version", "001.083"});
    remember("COM7");
    QtDialogs real;
    RealBoxes boxes;
    boxes.keys = {Qt::Key_Return, Qt::Key_Return, Qt::Key_Escape}; // start, update anyway, no restart
    TMainForm f(real);
    shown(f);
    click(f.BlowUpdateButton);
    ASSERT_TRUE(settled(f));
    EXPECT_EQ(boxes.texts.size(), 3u);
    EXPECT_EQ(log(f).last(), "Загрузка закончена.");
    EXPECT_EQ(frames(15), 0) << "restart declined: nothing sent";
    EXPECT_TRUE(f.BlowUpdateButton->isEnabled());
    EXPECT_FALSE(f.Timer1->isActive());
}

TEST_F(MainWindowTest, firmware_failures_each_show_one_box) {
    {
        auto emu = emulator({"--version", "001.050", "--stop-ack-after", "10", "--slow", "0"});
        remember("COM7");
        TMainForm f(dialogs);
        shown(f);
        click(f.BlowUpdateButton);
        ASSERT_TRUE(settled(f));
        EXPECT_EQ(dialogs.asked.back().text, "Ошибка при передачи данных");
        EXPECT_EQ(dialogs.asked.back().caption, "Ошибка");
        EXPECT_EQ(log(f).last(), "Обновление отменено.");
        EXPECT_TRUE(f.BlowUpdateButton->isEnabled());
        EXPECT_EQ(f.SaveProgress->value(), 10) << "the bar keeps its position";
        EXPECT_EQ(frames(192), 11) << "nothing after the block that was not acknowledged";
        EXPECT_FALSE(f.Timer1->isActive());
    }
    {
        auto emu = std::make_unique<EmulatorProcess>(
            std::vector<std::string>{"--register", "COM8", "--version", "001.050", "--refuse-crc"});
        remember("COM8");
        FakeDialogs d;
        TMainForm f(d);
        shown(f);
        click(f.BlowUpdateButton);
        ASSERT_TRUE(settled(f));
        EXPECT_EQ(d.asked.back().text, "Нет подтвеждения CRC");
        EXPECT_EQ(d.asked.back().caption, "Ошибка обновления.");
        EXPECT_EQ(log(f).last(), "Обновление отменено.");
    }
    remember("COM9");
    FakeDialogs d;
    TMainForm f(d);
    shown(f);
    click(f.BlowUpdateButton);
    ASSERT_TRUE(settled(f));
    EXPECT_EQ(d.asked.back().text, "Устройство не подключено или занято");
    EXPECT_EQ(f.Memo1->toPlainText(), "");
    EXPECT_TRUE(f.BlowUpdateButton->isEnabled());
}

TEST_F(MainWindowTest, sound_job_says_stop_while_it_runs_and_only_success_at_the_end) {
    auto emu = emulator();
    remember("COM7");
    QtDialogs real;
    RealBoxes boxes;
    TMainForm f(real);
    shown(f);
    click(f.WaveUpdateButton);
    EXPECT_EQ(f.WaveUpdateButton->text(), "Стоп");
    EXPECT_FALSE(f.BlowUpdateButton->isEnabled()) << "one upload at a time";
    ASSERT_TRUE(QTest::qWaitFor([&] { return f.SaveProgress->maximum() == 596 && f.SaveProgress->value() > 3; }, 10000));
    EXPECT_EQ(f.WaveUpdateButton->text(), "Стоп");
    ASSERT_TRUE(settled(f, 60000));
    EXPECT_EQ(f.WaveUpdateButton->text(), "Обновить звук до 609375");
    EXPECT_TRUE(f.BlowUpdateButton->isEnabled());
    EXPECT_EQ(f.SaveProgress->value(), 596);
    ASSERT_EQ(boxes.texts.size(), 2u);
    EXPECT_EQ(boxes.texts[1], "Данные успешно записаны.");
    EXPECT_EQ(boxes.captions[1], "Сообщение");
    EXPECT_EQ(log(f), QStringList({"Подготовка к записи, ждите...", "Идет запись звуковых данных..."}));
    EXPECT_EQ(frames(192), 596);
    EXPECT_FALSE(f.Timer2->isActive());
}

TEST_F(MainWindowTest, sound_job_failures) {
    auto emu = emulator({"--refuse-crc"});
    remember("COM7");
    TMainForm f(dialogs);
    shown(f);
    click(f.WaveUpdateButton);
    ASSERT_TRUE(settled(f, 60000));
    EXPECT_EQ(dialogs.asked.back().text, "Нет подтвеждения CRC");
    EXPECT_EQ(dialogs.asked.back().caption, "Ошибка обновления.");

    auto silent = std::make_unique<EmulatorProcess>(std::vector<std::string>{"--register", "COM8", "--stop-ack-after", "3"});
    f.PortComboBox->setEditText("COM8");
    click(f.WaveUpdateButton);
    ASSERT_TRUE(settled(f));
    EXPECT_EQ(dialogs.asked.back().text, "Ошибка при передачи данных");
    EXPECT_EQ(f.WaveUpdateButton->text(), "Обновить звук до 609375");
    EXPECT_EQ(f.SaveProgress->value(), 3);
}

TEST_F(MainWindowTest, the_other_upload_cannot_begin_while_one_runs) {
    // Sound first: the firmware button is off, and a click on it sends nothing.
    auto emu = emulator({"--version", "001.050", "--slow", "25"});
    remember("COM7");
    QtDialogs real;
    RealBoxes boxes;
    TMainForm f(real);
    shown(f);
    click(f.WaveUpdateButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return f.SaveProgress->value() >= 2; }, 10000));
    EXPECT_FALSE(f.BlowUpdateButton->isEnabled());
    QTest::mouseClick(f.BlowUpdateButton, Qt::LeftButton);
    QTest::qWait(100);
    EXPECT_EQ(boxes.texts.size(), 1u) << "no firmware question";
    f.close(); // answered OK below: the sound upload is left
    ASSERT_TRUE(settled(f));
    // The block being sent when the window closed still ends on the controller
    // before another upload may begin.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !f.busy(); }, 2000));
    EXPECT_EQ(f.runner().uploads().busy(), jobs::UploadKind::None) << "the upload left lets the slot go";
    EXPECT_EQ(frames(195), 0) << "no firmware begin request";

    // Firmware first, on a controller that answers each block in 25 ms.
    auto emu2 = std::make_unique<EmulatorProcess>(std::vector<std::string>{"--register", "COM8", "--version", "001.050",
                                                                           "--slow", "25", "--log", dir / "emu2.jsonl"});
    remember("COM8");
    RealBoxes second;
    TMainForm g(real);
    shown(g);
    click(g.BlowUpdateButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return g.SaveProgress->maximum() == 102 && g.SaveProgress->value() >= 2; }, 20000))
        << (second.texts.empty() ? std::string() : second.texts.back().toStdString()) << " / " << log(g).join("|").toStdString();
    EXPECT_FALSE(g.WaveUpdateButton->isEnabled());
    QTest::mouseClick(g.WaveUpdateButton, Qt::LeftButton);
    ASSERT_TRUE(settled(g, 60000));
    const std::string log2 = readWhole(dir / "emu2.jsonl");
    EXPECT_EQ(log2.find("{\"type\":196,"), std::string::npos) << "no sound begin request";
    EXPECT_NE(log2.find("{\"type\":190,"), std::string::npos);
    EXPECT_TRUE(log(g).contains("Загрузка закончена.")) << "the firmware upload is still confirmed";
}

TEST_F(MainWindowTest, a_version_click_during_an_upload_runs_between_two_blocks) {
    auto emu = emulator({"--version", "001.050", "--slow", "120"});
    remember("COM7");
    TMainForm f(dialogs);
    shown(f);
    click(f.WaveUpdateButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return f.SaveProgress->value() >= 1; }, 10000));
    click(f.GetVersionButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return log(f).contains("Версия прошивки : 001.050"); }, 5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return f.SaveProgress->value() >= 4; }, 10000)) << "the upload goes on";
    const std::string log = emuLog();
    const size_t version = log.find("{\"type\":14,");
    ASSERT_NE(version, std::string::npos);
    EXPECT_NE(log.rfind("{\"type\":192,", version), std::string::npos) << "after a block";
    EXPECT_NE(log.find("{\"type\":192,", version), std::string::npos) << "and before the next";
    dialogs.answers = {Answer::Ok};
    f.close();
}

TEST_F(MainWindowTest, uploads_lock_the_port_and_closing_asks_first) {
    auto emu = emulator();
    remember("COM7");
    QtDialogs real;
    RealBoxes boxes;
    TMainForm f(real);
    shown(f);
    click(f.WaveUpdateButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return f.SaveProgress->value() >= 1; }, 20000));
    EXPECT_FALSE(f.PortComboBox->isEnabled());
    EXPECT_FALSE(f.FindPortButton->isEnabled());
    EXPECT_TRUE(f.GetVersionButton->isEnabled()) << "the other buttons keep working between blocks";

    boxes.keys = {Qt::Key_Escape};
    f.close();
    ASSERT_EQ(boxes.texts.size(), 2u);
    EXPECT_EQ(boxes.texts.back(), "Идет обновление. Прервать и выйти?");
    EXPECT_TRUE(f.isVisible());
    const int at = f.SaveProgress->value();
    ASSERT_TRUE(QTest::qWaitFor([&] { return f.SaveProgress->value() >= at + 5; }, 10000)) << "Cancel keeps the upload going";

    f.close(); // OK
    EXPECT_FALSE(f.isVisible());
    EXPECT_FALSE(f.busy());
    EXPECT_FALSE(f.Timer2->isActive());
    QTest::qWait(50);
    const auto blocks = emuLog().size();
    QTest::qWait(100);
    EXPECT_EQ(emuLog().size(), blocks) << "nothing more is sent after the window closed";
}

TEST_F(MainWindowTest, port_box_uses_exactly_the_typed_text) {
    remember("COM7");
    TMainForm f(dialogs);
    shown(f);
    QLineEdit* edit = f.PortComboBox->lineEdit();
    QTest::mouseClick(edit, Qt::LeftButton);
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(edit, "C");
    EXPECT_EQ(edit->text(), "C") << "no inline completion to COM2";
    EXPECT_EQ(remembered(), "C\n");
    EXPECT_EQ(devicePort(f), "C");
    QTest::keyClicks(edit, "OM1");
    EXPECT_EQ(edit->text(), "COM1");
    EXPECT_EQ(remembered(), "COM1\n");
    EXPECT_EQ(devicePort(f), "COM1");
    QTest::keyClick(edit, Qt::Key_Tab);
    QApplication::processEvents();
    EXPECT_EQ(f.PortComboBox->currentText(), "COM1") << "leaving the box keeps the text";
    EXPECT_EQ(remembered(), "COM1\n");
    EXPECT_EQ(devicePort(f), "COM1");
}

TEST_F(MainWindowTest, titles_are_the_programs_own_texts) {
    TMainForm f(dialogs);
    shown(f);
    EXPECT_EQ(f.windowTitle(), "Z58     Версия: 001.083");
    EXPECT_EQ(f.windowHandle()->title(), "Z58     Версия: 001.083");
    EXPECT_TRUE(QGuiApplication::applicationDisplayName() == QCoreApplication::applicationName())
        << "a display name set would be appended to every title on X11";
}

TEST(message_boxes, a_long_caption_widens_the_box) {
    const QString caption = "Заголовок длиннее короткого текста окна";
    int width = 0;
    QTimer::singleShot(50, [&] {
        if (QWidget* box = QApplication::activeModalWidget()) {
            width = box->width();
            box->close();
        }
    });
    QtDialogs dialogs;
    dialogs.message(nullptr, "Да", caption, Buttons::Ok);
    EXPECT_GE(width, captionWidth(caption));
}

TEST(russian_buttons, standard_buttons_are_translated) {
    QMessageBox box(QMessageBox::NoIcon, "t", "x", QMessageBox::Ok | QMessageBox::Cancel);
    EXPECT_EQ(box.button(QMessageBox::Cancel)->text(), "Отмена");
    QMessageBox yesNo(QMessageBox::NoIcon, "t", "x", QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(yesNo.button(QMessageBox::Yes)->text().remove('&'), "Да");
    EXPECT_EQ(yesNo.button(QMessageBox::No)->text().remove('&'), "Нет");
}

#ifndef _WIN32
// Real ports in the list: a fake sysfs stands in for the machine's devices.
TEST_F(MainWindowTest, present_ports_are_marked_and_follow_hot_plug) {
    FakeSysfs tree(dir.path / "sys", dir.path / "dev");
    tree.addUsb("ttyACM0", "1d50", "6018", "A1", "Z58 GSM controller");
    remember("COM7");
    TMainForm f(dialogs);
    shown(f);
    auto& box = *f.PortComboBox;
    const auto shownText = [&](int row) { return PortListBox::shownText(box.model()->index(row, 0)); };
    EXPECT_EQ(shownText(0), "COM2 — USB: Z58 GSM controller") << "named at start";
    EXPECT_EQ(box.itemText(0), "COM2") << "the item stays the bare name";
    EXPECT_EQ(shownText(1), "COM3");

    QTest::keyClick(box.lineEdit(), Qt::Key_Down, Qt::AltModifier); // opens the list as a user does
    ASSERT_TRUE(QTest::qWaitFor([&] { return box.view()->isVisible(); }, 2000));
    tree.addUsb("ttyUSB0", "0403", "6001", "", "FT232R USB UART");
    EXPECT_TRUE(QTest::qWaitFor([&] { return shownText(1) == "COM3 — USB: FT232R USB UART"; }, 3000)) << shownText(1).toStdString();
    tree.unplug("ttyACM0");
    EXPECT_TRUE(QTest::qWaitFor([&] { return shownText(0) == "COM2"; }, 3000)) << shownText(0).toStdString();
    QTest::keyClick(box.view(), Qt::Key_Escape);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !box.view()->isVisible(); }, 2000));

    EXPECT_EQ(remembered(), "COM7\n") << "a device coming or going chooses nothing";
    EXPECT_EQ(devicePort(f), "COM7");
    EXPECT_EQ(box.currentText(), "COM7");
}

TEST_F(MainWindowTest, a_port_that_cannot_be_used_says_why_in_the_log) {
    std::filesystem::create_directories(dir / "ports");
    std::filesystem::create_symlink(dir / "dev/ttyACM9", dir / "ports/COM9");
    remember("COM9");
    TMainForm f(dialogs);
    shown(f);
    click(f.GetSerialButton);
    ASSERT_TRUE(settled(f));
    ASSERT_EQ(dialogs.asked.size(), 1u);
    EXPECT_EQ(dialogs.asked[0].text, "Устройство не подключено или занято.") << "the box stays as it was";
    ASSERT_EQ(log(f).size(), 1);
    EXPECT_EQ(log(f)[0].toStdString(), "COM9 ведёт на " + (dir / "dev/ttyACM9") + ", а такого устройства нет (отключено?).");
}
#endif

// The support report from the log box's own menu (a right click, then a click
// on the item) and by its key, with the window's log in it, masked.
TEST_F(MainWindowTest, support_report_from_the_log_menu_and_by_its_key) {
    auto emu = emulator({"--settings-text", "PinCod=4821\\nUserNumber1=+79161234567\\n"});
    remember("COM7");
    TMainForm f(dialogs);
    shown(f);
    f.Memo1->appendPlainText("звонок на +79161234567");
    click(f.GetSerialButton);
    ASSERT_TRUE(settled(f));

    dialogs.files = {QString::fromStdString(dir / "отчёт.html")};
    // Through the window, as the platform delivers it: the context menu comes
    // from the press as it does for a real mouse.
    QTest::mouseClick(f.windowHandle(), Qt::RightButton, {}, f.Memo1->mapTo(&f, QPoint(40, 20)));
    QMenu* menu = nullptr;
    ASSERT_TRUE(QTest::qWaitFor([&] {
        menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        return menu && menu->isVisible();
    }, 3000)) << "the log box's menu";
    QAction* item = nullptr;
    for (QAction* a : menu->actions())
        if (a->text() == "Сохранить отчёт для поддержки…")
            item = a;
    ASSERT_NE(item, nullptr);
    EXPECT_TRUE(menu->actions().size() > 3) << "the box's own items stay";
    QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(item).center());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !f.busy() && std::filesystem::exists(std::filesystem::u8path(dir / "отчёт.html")); }, 10000));
    EXPECT_EQ(dialogs.lastSuffix, "html");
    const std::string page = readWhole(dir / "отчёт.html");
    EXPECT_NE(page.find("Серийный номер устройства 305419896"), std::string::npos) << "the window's log";
    EXPECT_NE(page.find("звонок на ••••67"), std::string::npos);
    EXPECT_EQ(page.find("4821"), std::string::npos);
    EXPECT_EQ(page.find("1234567"), std::string::npos);
    EXPECT_NE(page.find("Qt " + std::string(qVersion())), std::string::npos);
    ASSERT_FALSE(dialogs.asked.empty());
    EXPECT_EQ(dialogs.asked.back().caption, "Отчёт для поддержки");
    EXPECT_EQ(log(f).back(), "Отчёт для поддержки сохранён: " + QString::fromStdString(dir / "отчёт.html"));

    dialogs.files = {QString::fromStdString(dir / "второй.html")};
    QTest::keyClick(&f, Qt::Key_R, Qt::ControlModifier | Qt::ShiftModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !f.busy() && std::filesystem::exists(std::filesystem::u8path(dir / "второй.html")); }, 10000));
}
