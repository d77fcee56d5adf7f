// The main window against the emulator over a pty, with the fake dialogs.
#include "Device.h"
#include "EmulatorProcess.h"
#include "FakeDialogs.h"
#include "FakeSysfs.h"
#include "PortSettingStore.h"
#include "ParametrsEdit.h"
#include "TempDir.h"
#include "WaitFor.h"
#include "Z58main.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QLineEdit>
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
    static std::string devicePort(TMainForm& f) { return static_cast<Device&>(*f.CurrentDevice).portName(); }
};

// Windows are driven as a user drives them: shown, and clicked.
void shown(QWidget& w) {
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
}
void click(QWidget* w) {
    ASSERT_TRUE(w->isVisible() && w->isEnabled()) << w->objectName().toStdString();
    QTest::mouseClick(w, Qt::LeftButton);
}

} // namespace

TEST_F(MainWindowTest, captions_from_the_embedded_data) {
    TMainForm f(dialogs);
    shown(f);
    EXPECT_EQ(f.windowTitle(), "Z58     Версия: 001.083");
    EXPECT_EQ(f.BlowUpdateButton->text(), "Обновить прошивку до 001.083");
    EXPECT_EQ(f.WaveUpdateButton->text(), "Обновить звук до 609375");
    EXPECT_EQ(f.size(), QSize(320, 505));
    EXPECT_EQ(f.PortComboBox->count(), 254);
    EXPECT_EQ(f.PortComboBox->itemText(0), "COM2");
    EXPECT_EQ(f.PortComboBox->itemText(253), "COM255");
    EXPECT_EQ(f.PortComboBox->maxVisibleItems(), 25);
    EXPECT_FALSE(f.Timer1->isActive()) << "Timer1 runs only during a firmware upload";
    EXPECT_FALSE(f.Timer2->isActive());
    EXPECT_EQ(f.Timer1->interval(), 1);
    EXPECT_EQ(f.Timer2->interval(), 10);
    EXPECT_EQ(f.Memo1->toPlainText(), "");
    EXPECT_EQ(f.Parameters()->parameters().size(), 61u);
    EXPECT_EQ(f.ReadButton->geometry(), QRect(20, 187, 277, 25));
    EXPECT_EQ(f.nextInFocusChain(), f.nextInFocusChain()); // focus chain exists
    EXPECT_EQ(f.ReadButton->nextInFocusChain(), f.BlowUpdateButton);
    EXPECT_EQ(f.GetSerialButton->nextInFocusChain(), f.GetVersionButton);
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
    EXPECT_EQ(log(f), QStringList({"Тип устройства   : Z58 (r2)", "Версия прошивки : 001.050",
                                   "Серийный номер устройства -2147483648"}));
    EXPECT_TRUE(dialogs.asked.empty());
}

TEST_F(MainWindowTest, other_device_type_is_shown_unchanged) {
    auto emu = emulator({"--type", "qv_r2"});
    remember("COM7");
    TMainForm f(dialogs);
    shown(f);
    click(f.GetVersionButton);
    EXPECT_EQ(log(f).value(0), "Тип устройства   : qv_r2");
}

TEST_F(MainWindowTest, failures_show_their_boxes_and_log_nothing) {
    remember("COM9");
    TMainForm f(dialogs);
    shown(f);
    click(f.GetSerialButton);
    click(f.GetVersionButton);
    click(f.ReadButton);
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
    // The search's message boxes come through the core's notifier.
    struct Forward : z58::Notifier {
        Dialogs* d;
        void message(z58::OwnerHandle, const std::string& t, const std::string& c) override {
            d->message(nullptr, QString::fromStdString(t), QString::fromStdString(c), Buttons::Ok);
        }
    } forward;
    forward.d = &dialogs;
    z58::Notifier* previous = z58::setNotifier(&forward);
    click(f.FindPortButton);
    z58::setNotifier(previous);
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
    TParametersEditForm editor(dialogs, &f.CurrentDevice);
    f.setEditor(&editor);
    click(f.ReadButton);
    EXPECT_EQ(dialogs.modals, 1);
    EXPECT_EQ(editor.Params, f.Parameters());
    EXPECT_EQ(f.Parameters()->SettingsText(), "MicLevel=10\n");
}

TEST_F(MainWindowTest, open_file) {
    TMainForm f(dialogs);
    shown(f);
    TParametersEditForm editor(dialogs, &f.CurrentDevice);
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

namespace {
int runFirmwareTicks(TMainForm& f, int limit = 1000) {
    int ticks = 0;
    while (f.FirmwareUploading && ticks < limit) {
        f.Timer1Timer();
        ++ticks;
    }
    return ticks;
}
} // namespace

TEST_F(MainWindowTest, firmware_job_uploads_confirms_and_restarts) {
    auto emu = emulator({"--version", "001.050"});
    remember("COM7");
    TMainForm f(dialogs);
    shown(f);
    click(f.BlowUpdateButton);
    ASSERT_EQ(dialogs.asked.size(), 1u) << "no version question for an older controller";
    EXPECT_EQ(dialogs.asked[0].caption, "Внимание");
    EXPECT_TRUE(dialogs.asked[0].text.startsWith("После обновления возможно произойдет сброс настроек.\n"));
    EXPECT_FALSE(f.BlowUpdateButton->isEnabled());
    EXPECT_EQ(f.SaveProgress->maximum(), 102);
    EXPECT_EQ(runFirmwareTicks(f), 103) << "102 blocks and the finishing tick";
    EXPECT_EQ(f.SaveProgress->value(), 102);
    EXPECT_TRUE(f.BlowUpdateButton->isEnabled());
    const QStringList lines = log(f);
    ASSERT_EQ(lines.size(), 5);
    EXPECT_TRUE(lines[0].startsWith("Резервная копия настроек: ")) << "taken before the update begins";
    EXPECT_EQ(lines.mid(1, 3), QStringList({"Подготовка к обновлению, ждите ...", "Загрузка новой версии программы ...",
                                            "Загрузка закончена."}));
    EXPECT_TRUE(lines[4].startsWith("Настройки восстановлены из "));
    ASSERT_EQ(dialogs.asked.size(), 5u);
    EXPECT_EQ(dialogs.asked[1].text, "Новая версия програмы загружена.\nДля применения нужна перезагрузка.\nПерегрузить прибор сейчас ?");
    EXPECT_EQ(dialogs.asked[2].text, "Дождитесь звукового сигнала подключения устройства и нажмите OK");
    EXPECT_EQ(dialogs.asked[2].caption, "Перезагрузка ...");
    EXPECT_EQ(dialogs.asked[3].caption, "Восстановление настроек") << "offered after the OK on the restart box";
    EXPECT_EQ(dialogs.asked[4].text, "Настройки восстановлены.");
    EXPECT_TRUE(fileContainsSoon(dir / "emu.jsonl", "{\"type\":15,"));
    EXPECT_NE(emuLog().find("\"offset\":103424,\"block\":714"), std::string::npos);
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
        ASSERT_EQ(d.asked.size(), 2u);
        EXPECT_EQ(d.asked[1].buttons, Buttons::YesNo);
        EXPECT_EQ(d.asked[1].text, "Устройство уже содержит новейшую или равную версию.\n" + QString(25, ' ') + "Обновлять или нет?");
        EXPECT_FALSE(f.FirmwareUploading);
        EXPECT_TRUE(f.BlowUpdateButton->isEnabled());
    }
    auto emu = emulator({"--version", "001.083"});
    remember("COM7");
    FakeDialogs d;
    TMainForm f(d);
    shown(f);
    d.answers = {Answer::Ok, Answer::Yes, Answer::Cancel};
    click(f.BlowUpdateButton);
    runFirmwareTicks(f);
    EXPECT_EQ(log(f).last(), "Загрузка закончена.");
    EXPECT_EQ(emuLog().find("{\"type\":15,"), std::string::npos) << "restart declined: nothing sent";
    EXPECT_TRUE(f.BlowUpdateButton->isEnabled());
    EXPECT_FALSE(f.Timer1->isActive());
}

TEST_F(MainWindowTest, firmware_fault_mid_upload_cancels) {
    auto emu = emulator({"--version", "001.050", "--stop-ack-after", "10", "--slow", "0"});
    remember("COM7");
    TMainForm f(dialogs);
    shown(f);
    click(f.BlowUpdateButton);
    const int ticks = runFirmwareTicks(f);
    EXPECT_EQ(ticks, 11);
    EXPECT_EQ(dialogs.asked.back().text, "Ошибка при передачи данных");
    EXPECT_EQ(dialogs.asked.back().caption, "Ошибка");
    EXPECT_EQ(log(f).last(), "Обновление отменено.");
    EXPECT_TRUE(f.BlowUpdateButton->isEnabled());
    EXPECT_EQ(f.SaveProgress->value(), 10) << "the bar keeps its position";
    EXPECT_FALSE(f.Timer1->isActive());
}

TEST_F(MainWindowTest, firmware_refused_crc_and_absent_controller) {
    {
        auto emu = emulator({"--version", "001.050", "--refuse-crc"});
        remember("COM7");
        FakeDialogs d;
        TMainForm f(d);
        shown(f);
        click(f.BlowUpdateButton);
        runFirmwareTicks(f);
        EXPECT_EQ(d.asked.back().text, "Нет подтвеждения CRC");
        EXPECT_EQ(d.asked.back().caption, "Ошибка обновления.");
        EXPECT_EQ(log(f).last(), "Обновление отменено.");
    }
    remember("COM9");
    FakeDialogs d;
    TMainForm f(d);
    shown(f);
    click(f.BlowUpdateButton);
    EXPECT_EQ(d.asked.back().text, "Устройство не подключено или занято");
    EXPECT_EQ(f.Memo1->toPlainText(), "");
    EXPECT_TRUE(f.BlowUpdateButton->isEnabled());
}

TEST_F(MainWindowTest, sound_job) {
    auto emu = emulator();
    remember("COM7");
    TMainForm f(dialogs);
    shown(f);
    click(f.WaveUpdateButton);
    EXPECT_EQ(f.WaveUpdateButton->text(), "Стоп");
    EXPECT_TRUE(f.Timer2->isActive());
    EXPECT_EQ(f.SaveProgress->maximum(), 596);
    int ticks = 0;
    while (f.SoundStream && ticks < 2000) {
        f.Timer2Timer();
        ++ticks;
        if (f.SoundStream) {
            ASSERT_EQ(f.WaveUpdateButton->text(), "Стоп");
        }
    }
    EXPECT_EQ(ticks, 597);
    EXPECT_EQ(f.WaveUpdateButton->text(), "Обновить звук до 609375");
    EXPECT_EQ(f.SaveProgress->value(), 596);
    EXPECT_EQ(dialogs.asked.back().text, "Данные успешно записаны.");
    EXPECT_EQ(dialogs.asked.back().caption, "Сообщение");
    EXPECT_EQ(log(f), QStringList({"Подготовка к записи, ждите...", "Идет запись звуковых данных..."}));
    EXPECT_FALSE(f.Timer2->isActive());
}

TEST_F(MainWindowTest, sound_job_failures) {
    auto emu = emulator({"--refuse-crc"});
    remember("COM7");
    TMainForm f(dialogs);
    shown(f);
    click(f.WaveUpdateButton);
    while (f.SoundStream)
        f.Timer2Timer();
    EXPECT_EQ(dialogs.asked.back().text, "Нет подтвеждения CRC");
    EXPECT_EQ(dialogs.asked.back().caption, "Ошибка обновления.");

    auto silent = std::make_unique<EmulatorProcess>(std::vector<std::string>{"--register", "COM8", "--stop-ack-after", "3"});
    f.PortComboBox->setEditText("COM8");
    click(f.WaveUpdateButton);
    int ticks = 0;
    while (f.SoundStream) {
        f.Timer2Timer();
        ++ticks;
    }
    EXPECT_EQ(ticks, 4);
    EXPECT_EQ(dialogs.asked.back().text, "Ошибка при передачи данных");
    EXPECT_EQ(f.WaveUpdateButton->text(), "Обновить звук до 609375");
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

TEST_F(MainWindowTest, uploads_lock_the_port_and_closing_asks_first) {
    auto emu = emulator();
    remember("COM7");
    TMainForm f(dialogs);
    shown(f);
    click(f.WaveUpdateButton);
    ASSERT_TRUE(f.SoundStream);
    EXPECT_FALSE(f.PortComboBox->isEnabled());
    EXPECT_FALSE(f.FindPortButton->isEnabled());
    EXPECT_TRUE(f.GetVersionButton->isEnabled()) << "the other buttons keep working between blocks";
    QTest::mouseClick(f.FindPortButton, Qt::LeftButton);
    const size_t asked = dialogs.asked.size();

    dialogs.answers = {Answer::Cancel};
    f.close();
    ASSERT_EQ(dialogs.asked.size(), asked + 1);
    EXPECT_EQ(dialogs.asked.back().text, "Идет обновление. Прервать и выйти?");
    EXPECT_EQ(dialogs.asked.back().buttons, Buttons::OkCancel);
    EXPECT_TRUE(f.isVisible());
    EXPECT_TRUE(f.SoundStream) << "Cancel keeps the upload going";
    ASSERT_TRUE(QTest::qWaitFor([&] { return f.SaveProgress->value() >= 5; }, 10000));

    f.close(); // OK
    EXPECT_FALSE(f.isVisible());
    EXPECT_FALSE(f.SoundStream);
    EXPECT_FALSE(f.Timer2->isActive());
    const auto blocks = emuLog().size();
    QTest::qWait(100);
    EXPECT_EQ(emuLog().size(), blocks) << "nothing more is sent after the window closed";
    EXPECT_TRUE(f.PortComboBox->isEnabled());

    // The firmware job locks the same way and lets go when it ends.
    auto emu2 = std::make_unique<EmulatorProcess>(std::vector<std::string>{"--register", "COM8", "--version", "001.050"});
    remember("COM8");
    FakeDialogs d;
    TMainForm g(d);
    shown(g);
    click(g.BlowUpdateButton);
    ASSERT_TRUE(g.FirmwareUploading);
    EXPECT_FALSE(g.PortComboBox->isEnabled());
    EXPECT_FALSE(g.FindPortButton->isEnabled());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !g.FirmwareUploading; }, 20000));
    EXPECT_TRUE(g.PortComboBox->isEnabled());
    EXPECT_TRUE(g.FindPortButton->isEnabled());
    EXPECT_TRUE(log(g).contains("Загрузка закончена."));
    EXPECT_TRUE(g.close()) << "no question once the job is over";
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
    ASSERT_EQ(dialogs.asked.size(), 1u);
    EXPECT_EQ(dialogs.asked[0].text, "Устройство не подключено или занято.") << "the box stays as it was";
    ASSERT_EQ(log(f).size(), 1);
    EXPECT_EQ(log(f)[0].toStdString(), "COM9 ведёт на " + (dir / "dev/ttyACM9") + ", а такого устройства нет (отключено?).");
}
#endif
