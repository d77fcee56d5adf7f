// The parameter editor with the fake dialogs; Send against the emulator.
#include "Cp1251.h"
#include "Device.h"
#include "ExchangeThread.h"
#include "Embedded.h"
#include "EmulatorProcess.h"
#include "FakeDialogs.h"
#include "ParametrsEdit.h"
#include "TempDir.h"
#include "WaitFor.h"

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QTimer>
#include <QTest>
#include <QSplitter>
#include <QTreeView>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace {

struct EditorTest : ::testing::Test, IsolatedSetup {
    FakeDialogs dialogs;
    ParameterList list{embeddedText("PARAMETER_LIST")};
    std::shared_ptr<DeviceInterface> device;
    ExchangeThread exchanges;
    jobs::Runner runner{exchanges.makeExecutor()};
    TParametersEditForm editor{dialogs, &runner};

    void SetUp() override {
        list.LoadSettingsText("");
        editor.Params = &list;
        editor.show();
        QApplication::processEvents();
    }
    void TearDown() override {
        editor.Modified = false;
        editor.hide();
    }
    QModelIndex node(int group, int child = -1) { return editor.node(group, child); }
    // Selects like a user: through the tree's selection model, which may refuse.
    void select(const QModelIndex& item) { editor.Tree->setCurrentIndex(item); }
    std::string value(const char* key) { return list.parameters()[static_cast<size_t>(list.IndexOfKey(key))].value; }
    // A user's click on a node's row.
    void clickNode(const QModelIndex& item) {
        editor.Tree->scrollTo(item);
        QTest::mouseClick(editor.Tree->viewport(), Qt::LeftButton, {}, editor.Tree->visualRect(item).center());
        QApplication::processEvents();
    }
    // Clicks into the edit box, selects what it holds and types over it.
    void typeValue(const QString& text) {
        QTest::mouseClick(editor.ValueEdit, Qt::LeftButton);
        QTest::keyClick(editor.ValueEdit, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(editor.ValueEdit, text);
    }
};

} // namespace

TEST_F(EditorTest, tree_of_groups_and_parameters) {
    ASSERT_EQ(editor.Tree->model()->rowCount(), 7);
    std::vector<int> counts;
    for (int i = 0; i < 7; ++i)
        counts.push_back(editor.Tree->model()->rowCount(node(i)));
    EXPECT_EQ(counts, (std::vector<int>{8, 12, 17, 5, 10, 4, 5}));
    EXPECT_EQ(node(0).data().toString(), "Настройки связи");
    EXPECT_EQ(node(0, 0).data().toString(), "Пин код ");
    EXPECT_EQ(editor.windowTitle(), "Редактор параметров");
    EXPECT_EQ(editor.Splitter1->size(), QSize(721, 473)) << "the client area below the menu bar";
}

TEST_F(EditorTest, selecting_group_hides_panel_and_parameter_shows_it) {
    select(node(0, 6)); // MicLevel
    EXPECT_TRUE(editor.Panel1->isVisible());
    EXPECT_EQ(editor.GroupBox1->title(), "Чувствительность микрофона");
    EXPECT_EQ(editor.ValueEdit->text(), "8");
    EXPECT_TRUE(editor.ValueEdit->isVisible());
    EXPECT_FALSE(editor.EnumValue->isVisible());
    EXPECT_EQ(editor.DescriptionLabel->text(), "Чувствительность микрофона.(1-14)");
    EXPECT_EQ(editor.SmsLabel->text(), "Set,MicLevel=8");
    select(node(1));
    EXPECT_FALSE(editor.Panel1->isVisible());
    EXPECT_EQ(editor.currentParameter(), nullptr);
    EXPECT_TRUE(editor.Tree->isExpanded(node(1))) << "selecting a node expands it";
}

TEST_F(EditorTest, refused_value_keeps_the_old_node_for_mouse_and_keyboard) {
    select(node(0, 6));
    editor.ValueEdit->setText("0");
    select(node(0, 7));
    ASSERT_EQ(dialogs.asked.size(), 1u);
    EXPECT_EQ(dialogs.asked[0].text, "0 - маловато будет.");
    EXPECT_EQ(dialogs.asked[0].caption, "Ошибка");
    EXPECT_EQ(editor.Tree->currentIndex(), node(0, 6));
    EXPECT_EQ(editor.ValueEdit->selectedText(), "0");
    EXPECT_EQ(value("MicLevel"), "8");

    // The keyboard goes through the same guard.
    editor.Tree->setFocus();
    QApplication::processEvents(); // a user's actions are separate events
    QTest::keyClick(editor.Tree, Qt::Key_Down);
    EXPECT_EQ(editor.Tree->currentIndex(), node(0, 6));
    EXPECT_EQ(dialogs.asked.size(), 2u) << "asked once per key press";
    // And the mouse, on a group node too.
    QApplication::processEvents();
    const QRect r = editor.Tree->visualRect(node(1));
    QTest::mouseClick(editor.Tree->viewport(), Qt::LeftButton, {}, r.center());
    EXPECT_EQ(editor.Tree->currentIndex(), node(0, 6));
    EXPECT_EQ(dialogs.asked.size(), 3u) << "asked once per click";

    QApplication::processEvents();
    editor.ValueEdit->setText("$A");
    select(node(0, 7));
    EXPECT_EQ(editor.Tree->currentIndex(), node(0, 7));
    EXPECT_EQ(value("MicLevel"), "$A") << "stored as typed";
    EXPECT_TRUE(editor.Modified);
    EXPECT_EQ(editor.windowTitle(), "Редактор параметров. Настройки изменены!");
}

TEST_F(EditorTest, string_and_number_checks) {
    select(node(0, 1)); // Balans
    editor.ValueEdit->setText("*100");
    editor.CommitEdit();
    EXPECT_EQ(dialogs.asked.back().text, "Маленькая длинна текста");
    EXPECT_EQ(value("Balans"), "");
    editor.ValueEdit->setText("*1234567#");
    editor.CommitEdit();
    EXPECT_EQ(dialogs.asked.back().text, "Превышена длинна текста");
    editor.ValueEdit->setText("");
    select(node(3, 3)); // TempSens
    editor.ValueEdit->setText("-101");
    editor.CommitEdit();
    EXPECT_EQ(dialogs.asked.back().text, "-101 - маловато будет.");
    editor.ValueEdit->setText("-100");
    editor.CommitEdit();
    EXPECT_EQ(value("TempSens"), "-100");
}

TEST_F(EditorTest, enum_list_in_order_and_choice_stored_at_once) {
    select(node(4, 7)); // AutoStart
    EXPECT_FALSE(editor.ValueEdit->isVisible());
    EXPECT_TRUE(editor.EnumValue->isVisible());
    ASSERT_EQ(editor.EnumValue->count(), 12);
    EXPECT_EQ(editor.EnumValue->itemText(1), "Запуск по команде");
    EXPECT_EQ(editor.EnumValue->currentIndex(), 0);
    editor.EnumValueChange(1);
    EXPECT_EQ(value("AutoStart"), "99");
    EXPECT_TRUE(editor.SmsLabel->text().endsWith("=99"));
    EXPECT_TRUE(editor.Modified);

    list.SetValueByKey("Out1", "77");
    select(node(5, 0));
    EXPECT_EQ(editor.EnumValue->currentIndex(), -1) << "a value matching no item selects nothing";
    editor.EnumValueChange(19);
    EXPECT_EQ(value("Out1"), "19");
}

TEST_F(EditorTest, sms_line_updates_while_typing) {
    select(node(0, 6));
    EXPECT_EQ(editor.SmsLabel->text(), "Set,MicLevel=8");
    editor.ValueEdit->setFocus();
    editor.ValueEdit->selectAll();
    QTest::keyClicks(editor.ValueEdit, "12");
    EXPECT_EQ(editor.SmsLabel->text(), "Set,MicLevel=12");
    EXPECT_EQ(value("MicLevel"), "8") << "not committed while typing";
    list.SetValueByKey("PinCod", "1234");
    select(node(0, 0));
    EXPECT_EQ(value("MicLevel"), "12");
    editor.ValueEdit->setText("5678");
    EXPECT_EQ(editor.SmsLabel->text(), "Set1234,PinCod=5678");
}

TEST_F(EditorTest, characters_outside_windows_1251_stay_out) {
    select(node(0, 2)); // UserNumber1
    editor.ValueEdit->setFocus();
    for (const char* typed : {"+", "7", "日", "Ж", "9", "0", "€", "0"}) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString::fromUtf8(typed));
        QApplication::sendEvent(editor.ValueEdit, &press);
    }
    EXPECT_EQ(editor.ValueEdit->text(), "+7Ж90€0") << "€ exists in Windows-1251, 日 does not";
    editor.ValueEdit->setText("+7900123");
    editor.CommitEdit();
    EXPECT_EQ(value("UserNumber1"), "+7900123");
}

TEST_F(EditorTest, save_writes_the_settings_file) {
    editor.SaveActionExecute(); // cancelled
    EXPECT_FALSE(editor.Modified);
    dialogs.files.push_back(QString::fromStdString(dir / "all-defaults.txt"));
    editor.SaveActionExecute();
    EXPECT_EQ(std::filesystem::file_size(dir / "all-defaults.txt"), 0u);
    EXPECT_EQ(dialogs.lastFilter, "текстовые файлы настроек | *.txt");

    select(node(0, 6));
    editor.ValueEdit->setText("10");
    dialogs.files.push_back(QString::fromStdString(dir / "s.txt"));
    editor.SaveActionExecute();
    EXPECT_EQ(readWhole(dir / "s.txt"), "MicLevel=10\r\n");
    EXPECT_FALSE(editor.Modified);
    EXPECT_TRUE(dialogs.asked.empty()) << "no message after a save";

    editor.ValueEdit->setText("11");
    editor.CommitEdit();
    std::filesystem::create_directories(dir / "folder.txt");
    dialogs.files.push_back(QString::fromStdString(dir / "folder.txt"));
    EXPECT_THROW(editor.SaveActionExecute(), std::runtime_error);
    EXPECT_TRUE(editor.Modified) << "a failed save leaves the window marked as changed";
}

TEST_F(EditorTest, send_writes_to_the_controller) {
    EmulatorProcess emu({"--register", "COM7", "--log", dir / "emu.jsonl"});
    runner.setDevice(std::make_shared<Device>("COM7"));
    select(node(0, 6));
    editor.ValueEdit->setText("10");
    dialogs.answers = {Answer::Cancel};
    editor.SendActionExecute();
    EXPECT_FALSE(editor.busy());
    EXPECT_EQ(readWhole(dir / "emu.jsonl"), "");
    EXPECT_TRUE(editor.Modified);
    editor.SendActionExecute();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !editor.busy(); }, 10000));
    ASSERT_GE(dialogs.asked.size(), 3u);
    EXPECT_EQ(dialogs.asked[1].text, "Записать настройки в устройство?");
    EXPECT_EQ(dialogs.asked[2].text, "Настройки записаны.");
    EXPECT_EQ(dialogs.asked[2].caption, "Сообщение");
    EXPECT_NE(readWhole(dir / "emu.jsonl").find("\"text\":\"MicLevel=10\\u000a\""), std::string::npos);
    EXPECT_FALSE(editor.Modified);
}

TEST_F(EditorTest, send_without_controller_keeps_the_changes_marked) {
    runner.setDevice(std::make_shared<Device>("COM9"));
    select(node(0, 6));
    editor.ValueEdit->setText("10");
    editor.SendActionExecute();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !editor.busy(); }, 10000));
    EXPECT_EQ(dialogs.asked.back().text, "Устройство не подключено или занято");
    EXPECT_EQ(dialogs.asked.back().caption, "Ошибка");
    EXPECT_EQ(editor.windowTitle(), "Редактор параметров. Настройки изменены!");
}

TEST_F(EditorTest, close_asks_only_after_unsaved_changes) {
    EXPECT_TRUE(editor.close());
    EXPECT_TRUE(dialogs.asked.empty());
    editor.show();
    select(node(0, 6));
    editor.ValueEdit->setText("10");
    editor.CommitEdit();
    dialogs.answers = {Answer::Cancel};
    EXPECT_FALSE(editor.close());
    EXPECT_EQ(dialogs.asked.back().text, "Настройки изменены, выйти без сохранения?");
    EXPECT_TRUE(editor.isVisible());
    dialogs.files.push_back(QString::fromStdString(dir / "s.txt"));
    editor.SaveActionExecute();
    const size_t asked = dialogs.asked.size();
    EXPECT_TRUE(editor.close());
    EXPECT_EQ(dialogs.asked.size(), asked);
    EXPECT_EQ(value("MicLevel"), "10") << "closing never undoes changes";
}

TEST_F(EditorTest, one_box_per_click_and_the_refused_text_stays_selected) {
    clickNode(node(0));
    clickNode(node(0, 6)); // MicLevel
    ASSERT_EQ(editor.currentParameter(), &list.parameter(static_cast<size_t>(list.IndexOfKey("MicLevel"))));
    typeValue("0");
    ASSERT_TRUE(editor.ValueEdit->hasFocus());
    clickNode(node(0, 7)); // the focus leaves the box and the tree asks: one action
    EXPECT_EQ(dialogs.asked.size(), 1u) << "one box for one click";
    EXPECT_EQ(editor.Tree->currentIndex(), node(0, 6));
    EXPECT_FALSE(editor.ValueEdit->hasFocus());
    EXPECT_EQ(editor.ValueEdit->selectedText(), "0") << "the whole refused text stays selected without the focus";

    QTest::keyClick(editor.Tree, Qt::Key_Down);
    QApplication::processEvents();
    EXPECT_EQ(dialogs.asked.size(), 2u) << "one box for one key press";
    EXPECT_EQ(editor.Tree->currentIndex(), node(0, 6));
    EXPECT_EQ(editor.ValueEdit->selectedText(), "0");

    clickNode(node(1)); // a group node is refused too
    EXPECT_EQ(dialogs.asked.size(), 3u);
    EXPECT_EQ(editor.ValueEdit->selectedText(), "0");

    typeValue("9");
    clickNode(node(0, 7));
    EXPECT_EQ(dialogs.asked.size(), 3u);
    EXPECT_EQ(editor.Tree->currentIndex(), node(0, 7));
    EXPECT_EQ(value("MicLevel"), "9");
}

TEST_F(EditorTest, group_node_keeps_the_tree_width_and_the_client_area_is_721_by_473) {
    EXPECT_EQ(editor.Splitter1->size(), QSize(721, 473)) << "below the menu bar";
    clickNode(node(0));
    clickNode(node(0, 6));
    const int treeWidth = editor.Tree->width();
    EXPECT_EQ(treeWidth, 297);
    clickNode(node(1));
    EXPECT_FALSE(editor.Panel1->isVisible());
    EXPECT_EQ(editor.Tree->width(), treeWidth) << "hiding the panel must not widen the tree";
    clickNode(node(1, 0));
    EXPECT_TRUE(editor.Panel1->isVisible());
    EXPECT_EQ(editor.Tree->width(), treeWidth);
}

TEST(editor_window, centred_on_its_owner_on_every_showing) {
    IsolatedSetup setup;
    FakeDialogs dialogs;
    ParameterList list{embeddedText("PARAMETER_LIST")};
    // Centres within a pixel (odd sizes); the owner sits where the editor fits
    // on the offscreen screen.
    const auto centred = [](const QRect& a, const QRect& b) {
        const QPoint d = a.center() - b.center();
        return std::abs(d.x()) <= 1 && std::abs(d.y()) <= 1;
    };
    QWidget owner;
    owner.setGeometry(240, 48, 320, 505);
    owner.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&owner));
    TParametersEditForm editor(dialogs, nullptr, &owner);
    editor.Params = &list;
    editor.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&editor));
    EXPECT_TRUE(centred(editor.geometry(), owner.geometry())) << editor.geometry().x() << "," << editor.geometry().y();
    const QRect first = editor.geometry();
    editor.hide();
    editor.show();
    EXPECT_EQ(editor.geometry(), first) << "the same place every time";
    editor.hide();
    owner.move(250, 60);
    editor.show();
    EXPECT_TRUE(centred(editor.geometry(), owner.geometry()));
    EXPECT_EQ(editor.windowTitle(), "Редактор параметров");
    editor.hide();
}

TEST_F(EditorTest, send_refuses_settings_too_long_for_the_controller) {
    EmulatorProcess emu({"--register", "COM7", "--log", dir / "emu.jsonl"});
    runner.setDevice(std::make_shared<Device>("COM7"));
    list.SetValueByKey("UserNumber1", std::string(1020, '5'));
    auto* menu = editor.findChild<QMenuBar*>();
    ASSERT_NE(menu, nullptr);
    QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(editor.SendAction).center());
    QApplication::processEvents();
    ASSERT_EQ(dialogs.asked.size(), 1u) << "refused before the question";
    EXPECT_EQ(dialogs.asked[0].caption, "Ошибка");
    EXPECT_TRUE(dialogs.asked[0].text.contains("не более 1015")) << dialogs.asked[0].text.toStdString();
    EXPECT_TRUE(dialogs.asked[0].text.contains("UserNumber1"));
    EXPECT_EQ(readWhole(dir / "emu.jsonl"), "") << "nothing sent";
}

TEST(editor_window, refused_text_stays_selected_after_a_real_message_box) {
    IsolatedSetup setup;
    QtDialogs dialogs;
    ParameterList list{embeddedText("PARAMETER_LIST")};
    list.LoadSettingsText("");
    TParametersEditForm editor(dialogs, nullptr);
    editor.Params = &list;
    editor.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&editor));
    auto clickNode = [&](const QModelIndex& item) {
        editor.Tree->scrollTo(item);
        QTest::mouseClick(editor.Tree->viewport(), Qt::LeftButton, {}, editor.Tree->visualRect(item).center());
        QApplication::processEvents();
    };
    const QModelIndex group = editor.node(0);
    clickNode(group);
    clickNode(editor.node(0, 6));
    QTest::mouseClick(editor.ValueEdit, Qt::LeftButton);
    QTest::keyClick(editor.ValueEdit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(editor.ValueEdit, "0");
    int boxes = 0;
    QTimer answer; // a user pressing OK on every box that comes up
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            ++boxes;
            box->accept();
        }
    });
    answer.start(20);
    clickNode(editor.node(0, 7));
    QTest::qWait(200);
    EXPECT_EQ(boxes, 1);
    EXPECT_EQ(editor.Tree->currentIndex(), editor.node(0, 6));
    EXPECT_EQ(editor.ValueEdit->selectedText(), "0");
    editor.Modified = false;
}
