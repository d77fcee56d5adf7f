// The settings safety net in the windows: backups before a firmware update and
// before Send, the offer to restore after the update, the change list before
// the write, and the editor's marks, filter and settings sheet.
#include "BackupStore.h"
#include "ChangesView.h"
#include "Device.h"
#include "ExchangeThread.h"
#include "Embedded.h"
#include "EmulatorProcess.h"
#include "FakeDialogs.h"
#include "ParameterModel.h"
#include "ParametrsEdit.h"
#include "PortSettingStore.h"
#include "TempDir.h"
#include "WaitFor.h"
#include "WindowDriving.h"
#include "Z58main.h"

#include <QApplication>
#include <QCheckBox>
#include <QDate>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTreeView>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {


struct SafetyTest : ::testing::Test, IsolatedSetup {
    FakeDialogs dialogs;
    std::unique_ptr<EmulatorProcess> emulator(std::vector<std::string> extra) {
        std::vector<std::string> args = {"--register", "COM7", "--log", dir / "emu.jsonl", "--serial", "77"};
        args.insert(args.end(), extra.begin(), extra.end());
        portSettingStore().write("COM7");
        return std::make_unique<EmulatorProcess>(args);
    }
    std::string emuLog() { return readWhole(dir / "emu.jsonl"); }
    std::vector<fs::path> backups() {
        std::vector<fs::path> files;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(fs::u8path(backupFolder()), ec))
            files.push_back(e.path());
        return files;
    }
    static void show(QWidget& w) {
        w.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    }
    // Clicks a menu bar entry, or opens "Сервис" and clicks the entry in it.
    static void clickMenu(TParametersEditForm& editor, QAction* action) {
        // On Windows a click on a window that is not active yet only activates it.
        editor.activateWindow();
        (void)QTest::qWaitForWindowActive(&editor);
        auto* bar = editor.findChild<QMenuBar*>();
        ASSERT_NE(bar, nullptr);
        auto* service = editor.findChild<QMenu*>("ServiceMenu");
        if (service && service->actions().contains(action)) {
            QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(service->menuAction()).center());
            ASSERT_TRUE(QTest::qWaitFor([&] { return service->isVisible(); }, 2000));
            QTest::mouseClick(service, Qt::LeftButton, {}, service->actionGeometry(action).center());
        } else {
            QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(action).center());
        }
        QApplication::processEvents();
    }
    static QModelIndex nodeNamed(TParametersEditForm& editor, const QString& name) {
        const QAbstractItemModel* m = editor.Tree->model();
        for (int g = 0; g < m->rowCount(); ++g)
            for (int i = 0; i < m->rowCount(m->index(g, 0)); ++i)
                if (m->index(i, 0, m->index(g, 0)).data().toString() == name)
                    return m->index(i, 0, m->index(g, 0));
        return {};
    }
    static void clickNode(TParametersEditForm& editor, const QModelIndex& item) {
        editor.Tree->scrollTo(item);
        QTest::mouseClick(editor.Tree->viewport(), Qt::LeftButton, {}, editor.Tree->visualRect(item).center());
        QApplication::processEvents();
    }
    static void typeValue(TParametersEditForm& editor, const QString& text) {
        QTest::mouseClick(editor.ValueEdit, Qt::LeftButton);
        QTest::keyClick(editor.ValueEdit, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(editor.ValueEdit, text);
    }
    // Types any text, Cyrillic too (QTest::keyClicks knows only ASCII keys).
    static void typeText(QWidget* w, const QString& text) {
        for (const QChar c : text) {
            QTest::sendKeyEvent(QTest::Press, w, Qt::Key_unknown, QString(c), Qt::NoModifier);
            QTest::sendKeyEvent(QTest::Release, w, Qt::Key_unknown, QString(c), Qt::NoModifier);
        }
    }
    // What a change list showed: "key: old -> new" per row, then its count line.
    static QStringList rowsOf(QDialog* w) {
        QStringList rows;
        if (auto* view = qobject_cast<ChangesView*>(w)) {
            int key = 0; // the key, then the value before and the value after
            while (view->Table->horizontalHeaderItem(key)->text() != "Ключ")
                ++key;
            for (int r = 0; r < view->Table->rowCount(); ++r)
                rows << view->Table->item(r, key)->text() + ": " + view->Table->item(r, key + 1)->text() + " -> " +
                            view->Table->item(r, key + 2)->text();
            rows << view->CountLabel->text();
        }
        return rows;
    }
};

const QString kMicLevel = "Чувствительность микрофона";

} // namespace

TEST_F(SafetyTest, firmware_update_backs_up_first_and_restores_after_the_restart) {
    auto emu = emulator({"--version", "001.050", "--settings-text", "AutoStart=99\\nMicLevel=10\\nX=1\\n"});
    TMainForm f(dialogs);
    show(f);
    QTest::mouseClick(f.BlowUpdateButton, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialogs.asked.size() >= 5; }, 20000));
    const auto files = backups();
    ASSERT_EQ(files.size(), 1u);
    const std::string name = files[0].filename().string();
    EXPECT_EQ(name.substr(0, 3), "77_");
    EXPECT_EQ(name.size(), std::string("77_2026-12-08_09-05-07.txt").size());
    EXPECT_EQ(readWhole(files[0].string()), "AutoStart=99\r\nMicLevel=10\r\nX=1\r\n") << "the controller's text, every line";
    EXPECT_TRUE(f.Memo1->toPlainText().startsWith("Резервная копия настроек: " + QString::fromStdString(files[0].string())));
    EXPECT_EQ(dialogs.asked[3].caption, "Восстановление настроек");
    EXPECT_TRUE(dialogs.asked[3].text.contains(QString::fromStdString(files[0].string())));
    EXPECT_EQ(dialogs.asked[4].text, "Настройки восстановлены.");
    // The restore is the backup's text, sent after the restart.
    ASSERT_TRUE(fileContainsSoon(dir / "emu.jsonl", "\"type\":201"));
    const std::string log = emuLog();
    const size_t restart = log.find("{\"type\":15,");
    const size_t restore = log.find("\"type\":201,\"flag\":false,\"length\":30,\"text\":\"AutoStart=99\\u000aMicLevel=10\\u000aX=1\\u000a\"");
    ASSERT_NE(restart, std::string::npos);
    ASSERT_NE(restore, std::string::npos) << log;
    EXPECT_GT(restore, restart);
}

TEST_F(SafetyTest, nothing_is_restored_without_the_users_ok) {
    auto emu = emulator({"--version", "001.050", "--settings-text", "AutoStart=99\\n"});
    dialogs.answers = {Answer::Ok, Answer::Ok, Answer::Ok, Answer::Cancel};
    TMainForm f(dialogs);
    show(f);
    QTest::mouseClick(f.BlowUpdateButton, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialogs.asked.size() >= 4; }, 20000));
    QTest::qWait(100);
    EXPECT_EQ(dialogs.asked.size(), 4u);
    EXPECT_EQ(emuLog().find("\"type\":201"), std::string::npos);
    EXPECT_EQ(backups().size(), 1u);
}

TEST_F(SafetyTest, firmware_backup_failure_asks_and_cancel_sends_nothing) {
    auto emu = emulator({"--version", "001.050"});
    // A file where the backups folder should be made.
    std::ofstream(dir / "data") << "x";
    std::ofstream(dir / "local") << "x";
    dialogs.answers = {Answer::Ok, Answer::Cancel};
    TMainForm f(dialogs);
    show(f);
    QTest::mouseClick(f.BlowUpdateButton, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !f.busy(); }, 10000));
    ASSERT_EQ(dialogs.asked.size(), 2u);
    EXPECT_TRUE(dialogs.asked[1].text.startsWith("Не удалось сохранить резервную копию настроек.\n"));
    EXPECT_TRUE(dialogs.asked[1].text.endsWith("\nПродолжить без неё?"));
    EXPECT_EQ(dialogs.asked[1].buttons, Buttons::OkCancel);
    EXPECT_TRUE(f.BlowUpdateButton->isEnabled());
    EXPECT_FALSE(f.Memo1->toPlainText().contains("Подготовка")) << "ended as the first question's Cancel ends it";
    EXPECT_EQ(emuLog().find("\"type\":5"), std::string::npos) << "no begin-update frame";
}

TEST_F(SafetyTest, send_shows_the_changes_then_asks_then_backs_up_then_writes) {
    auto emu = emulator({"--settings-text", "AutoStart=99\\nMicLevel=10\\nX=1\\n"});
    TMainForm f(dialogs);
    TParametersEditForm editor(dialogs, &f.runner(), &f);
    f.setEditor(&editor);
    QStringList shownRows;
    size_t askedBefore = 99;
    dialogs.onModal = [&](QDialog* w) {
        if (w == &editor) {
            show(editor);
            clickNode(editor, nodeNamed(editor, kMicLevel));
            typeValue(editor, "12");
            clickMenu(editor, editor.SendAction);
            editor.Modified = false;
            editor.hide();
        } else {
            shownRows = rowsOf(w);
            askedBefore = dialogs.asked.size();
        }
    };
    show(f);
    QTest::mouseClick(f.ReadButton, Qt::LeftButton); // Read, then the editor
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialogs.asked.size() >= 2 && !editor.busy() && !f.busy(); }, 10000));
    EXPECT_EQ(shownRows, QStringList({"MicLevel: 10 -> 12", "X: 1 -> (нет)", "Изменений: 2, записать: 2 из 2"}));
    EXPECT_EQ(askedBefore, 1u) << "the list, read from the controller, comes after the question";
    ASSERT_EQ(dialogs.texts(), (std::vector<QString>{"Записать настройки в устройство?", "Настройки записаны."}));
    const auto files = backups();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(readWhole(files[0].string()), "AutoStart=99\r\nMicLevel=10\r\nX=1\r\n") << "the controller before the write";
    EXPECT_TRUE(f.Memo1->toPlainText().contains("Резервная копия настроек: ")) << "the log names the file";
    EXPECT_NE(emuLog().find("\"text\":\"MicLevel=12\\u000aAutoStart=99\\u000a\""), std::string::npos) << emuLog();
}

TEST_F(SafetyTest, send_backup_failure_asks_and_cancel_sends_nothing) {
    auto emu = emulator({"--silent"});
    TParametersEditForm editor(dialogs, nullptr);
    ExchangeThread exchanges;
    jobs::Runner runner{exchanges.makeExecutor()};
    runner.setDevice(std::make_shared<Device>("COM7"));
    TParametersEditForm sender(dialogs, &runner);
    ParameterList list(embeddedText("PARAMETER_LIST"));
    list.LoadSettingsText("MicLevel=10\n");
    sender.Params = &list;
    sender.setLoadedText("MicLevel=10\n");
    show(sender);
    dialogs.answers = {Answer::Ok, Answer::Cancel};
    clickMenu(sender, sender.SendAction);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !sender.busy(); }, 10000));
    ASSERT_EQ(dialogs.asked.size(), 2u);
    EXPECT_EQ(dialogs.asked[0].text, "Записать настройки в устройство?");
    EXPECT_TRUE(dialogs.asked[1].text.startsWith("Не удалось сохранить резервную копию настроек.\nУстройство не ответило"))
        << dialogs.asked[1].text.toStdString();
    EXPECT_EQ(emuLog().find("\"type\":201"), std::string::npos) << "nothing written";
    EXPECT_TRUE(backups().empty());
}

TEST_F(SafetyTest, tree_marks_defaults_and_changes_and_counts_per_group) {
    ParameterList list(embeddedText("PARAMETER_LIST"));
    list.LoadSettingsText("MicLevel=10\nAutoStart=99\n");
    TParametersEditForm editor(dialogs, nullptr);
    editor.Params = &list;
    editor.setLoadedText("MicLevel=10\nAutoStart=99\n");
    show(editor);
    const QPersistentModelIndex mic = nodeNamed(editor, kMicLevel);
    ASSERT_TRUE(mic.isValid());
    EXPECT_TRUE(mic.data(ParameterModel::DiffersRole).toBool()) << "not at its default: bold";
    EXPECT_FALSE(mic.data(ParameterModel::ChangedRole).toBool()) << "as loaded";
    EXPECT_EQ(mic.parent().data(ParameterModel::CountRole).toInt(), 1);
    EXPECT_EQ(mic.parent().data().toString(), "Настройки связи");

    clickNode(editor, mic);
    typeValue(editor, "8");
    clickNode(editor, mic.parent().model()->index(0, 0, mic.parent())); // leaving the box commits
    EXPECT_FALSE(mic.data(ParameterModel::DiffersRole).toBool()) << "back at its default";
    EXPECT_TRUE(mic.data(ParameterModel::ChangedRole).toBool()) << "but changed since the load";
    EXPECT_EQ(mic.parent().data(ParameterModel::CountRole).toInt(), 0);
    editor.Modified = false;
}

TEST_F(SafetyTest, filter_narrows_the_tree_and_the_toggle_shows_only_changes) {
    ParameterList list(embeddedText("PARAMETER_LIST"));
    list.LoadSettingsText("");
    TParametersEditForm editor(dialogs, nullptr);
    editor.Params = &list;
    editor.setLoadedText("");
    show(editor);
    auto visibleParameters = [&] {
        QStringList names; // what the tree shows: its model is the filter
        const QAbstractItemModel* m = editor.Tree->model();
        for (int g = 0; g < m->rowCount(); ++g)
            for (int i = 0; i < m->rowCount(m->index(g, 0)); ++i)
                names << m->index(i, 0, m->index(g, 0)).data().toString();
        return names;
    };
    const int all = static_cast<int>(list.parameters().size());
    EXPECT_EQ(visibleParameters().size(), all);
    QTest::mouseClick(editor.FilterEdit, Qt::LeftButton);
    typeText(editor.FilterEdit, "МИКРОФОН"); // capitals, Cyrillic
    EXPECT_EQ(visibleParameters(), QStringList{kMicLevel});
    QTest::keyClick(editor.FilterEdit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(editor.FilterEdit, "autostart"); // a key
    EXPECT_TRUE(visibleParameters().contains("Тип атозапуска"));
    QTest::keyClick(editor.FilterEdit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(editor.FilterEdit, Qt::Key_Delete);
    EXPECT_EQ(visibleParameters().size(), all);

    clickNode(editor, nodeNamed(editor, kMicLevel));
    typeValue(editor, "12");
    QTest::mouseClick(editor.OnlyChanged, Qt::LeftButton); // leaving the box commits 12
    EXPECT_EQ(visibleParameters(), QStringList{kMicLevel});
    QTest::mouseClick(editor.OnlyChanged, Qt::LeftButton);
    EXPECT_EQ(visibleParameters().size(), all);
    editor.Modified = false;
}

TEST_F(SafetyTest, a_refused_value_keeps_the_selection_also_when_the_filter_would_hide_it) {
    ParameterList list(embeddedText("PARAMETER_LIST"));
    list.LoadSettingsText("");
    TParametersEditForm editor(dialogs, nullptr);
    editor.Params = &list;
    show(editor);
    const QPersistentModelIndex mic = nodeNamed(editor, kMicLevel);
    clickNode(editor, mic);
    typeValue(editor, "0");
    QTest::mouseClick(editor.FilterEdit, Qt::LeftButton);
    typeText(editor.FilterEdit, "баланс");
    QTest::qWait(20); // the edit box takes its selection back after the focus change
    ASSERT_EQ(dialogs.texts(), std::vector<QString>{"0 - маловато будет."});
    EXPECT_EQ(editor.Tree->currentIndex(), mic);
    EXPECT_TRUE(mic.isValid()) << "the node being corrected stays in sight";
    EXPECT_EQ(editor.ValueEdit->selectedText(), "0");
    editor.Modified = false;
}

TEST_F(SafetyTest, settings_sheet_and_changes_from_the_menu) {
    ParameterList list(embeddedText("PARAMETER_LIST"));
    list.LoadSettingsText("AutoStart=99\n");
    TParametersEditForm editor(dialogs, nullptr);
    editor.Params = &list;
    editor.setLoadedText("AutoStart=0\n");
    show(editor);
    dialogs.files = {QString::fromStdString(dir / "sheet.html")};
    clickMenu(editor, editor.SheetAction);
    EXPECT_EQ(dialogs.lastFilter, "страница HTML | *.html");
    EXPECT_EQ(dialogs.lastSuffix, "html");
    const std::string page = readWhole(dir / "sheet.html");
    EXPECT_NE(page.find("99 (Запуск по команде)"), std::string::npos);
    EXPECT_NE(page.find("Set,AutoStart=99"), std::string::npos);
    const std::string date = QDate::currentDate().toString("yyyy-MM-dd").toStdString();
    EXPECT_NE(page.find("<div class=\"page-header\">" + date), std::string::npos) << "read from a controller: the date only";

    // Opened from a controller's backup: its serial number heads each page.
    editor.setLoadedText("AutoStart=0\n", {true, 305419896u});
    dialogs.files = {QString::fromStdString(dir / "backup sheet.html")};
    clickMenu(editor, editor.SheetAction);
    EXPECT_NE(readWhole(dir / "backup sheet.html").find("<div class=\"page-header\">Серийный номер 305419896, " + date),
              std::string::npos);

    QStringList rows;
    dialogs.onModal = [&](QDialog* w) { rows = rowsOf(w); };
    clickMenu(editor, editor.ChangesAction);
    EXPECT_EQ(rows, QStringList({"AutoStart: 0 (Автозапуск отключен) -> 99 (Запуск по команде)", "Изменений: 1"}));
    EXPECT_TRUE(dialogs.asked.empty()) << "the list alone asks nothing";
}

// Send as a user meets it: real boxes, answered with keys, while the window
// waits for nothing but the boxes.
TEST_F(SafetyTest, send_through_real_boxes_writes_and_cancel_sends_nothing) {
    auto emu = emulator({"--settings-text", "MicLevel=10\\n"});
    QtDialogs real;
    RealBoxes boxes;
    ExchangeThread exchanges;
    jobs::Runner runner{exchanges.makeExecutor()};
    runner.setDevice(std::make_shared<Device>("COM7"));
    TParametersEditForm editor(real, &runner);
    ParameterList list(embeddedText("PARAMETER_LIST"));
    list.LoadSettingsText("MicLevel=10\n");
    editor.Params = &list;
    editor.setLoadedText("MicLevel=10\n");
    show(editor);
    clickNode(editor, nodeNamed(editor, kMicLevel));
    typeValue(editor, "12");
    boxes.keys = {Qt::Key_Escape}; // the question answered Cancel
    clickMenu(editor, editor.SendAction);
    ASSERT_TRUE(QTest::qWaitFor([&] { return boxes.texts.size() == 1 && !editor.busy(); }, 5000));
    EXPECT_EQ(boxes.texts[0], "Записать настройки в устройство?");
    EXPECT_EQ(emuLog(), "") << "Cancel sends nothing";
    EXPECT_TRUE(editor.Modified);

    boxes.keys = {Qt::Key_Return, Qt::Key_Escape}; // OK, then the list's Отмена
    clickMenu(editor, editor.SendAction);
    ASSERT_TRUE(QTest::qWaitFor([&] { return boxes.texts.size() == 3 && !editor.busy(); }, 10000));
    EXPECT_EQ(boxes.captions[2], "Изменения");
    EXPECT_EQ(emuLog().find("\"type\":201"), std::string::npos) << "read for the list, nothing written";
    EXPECT_TRUE(editor.Modified);

    clickMenu(editor, editor.SendAction); // OK, and Записать (Return: the default button)
    ASSERT_TRUE(QTest::qWaitFor([&] { return boxes.texts.size() == 6 && !editor.busy(); }, 10000));
    EXPECT_EQ(boxes.captions[4], "Изменения");
    EXPECT_EQ(boxes.texts[5], "Настройки записаны.");
    EXPECT_NE(emuLog().find("\"text\":\"MicLevel=12\\u000a\""), std::string::npos) << emuLog();
    EXPECT_FALSE(editor.Modified);
    EXPECT_EQ(backups().size(), 2u) << "one for each read before a write";
}

TEST_F(SafetyTest, send_to_a_controller_that_drops_a_key_says_so_and_keeps_the_changes) {
    auto emu = emulator({"--settings-text", "MicLevel=10\\n", "--drop-key", "MicLevel"});
    QtDialogs real;
    RealBoxes boxes;
    boxes.keys = {Qt::Key_Return, Qt::Key_Return, Qt::Key_Escape}; // "write?" OK, the list's Записать, "take?" Cancel
    ExchangeThread exchanges;
    jobs::Runner runner{exchanges.makeExecutor()};
    runner.setDevice(std::make_shared<Device>("COM7"));
    TParametersEditForm editor(real, &runner);
    QStringList log;
    editor.log = [&](const QString& line) { log << line; };
    ParameterList list(embeddedText("PARAMETER_LIST"));
    list.LoadSettingsText("MicLevel=10\n");
    editor.Params = &list;
    editor.setLoadedText("MicLevel=10\n");
    show(editor);
    clickNode(editor, nodeNamed(editor, kMicLevel));
    typeValue(editor, "12");
    clickMenu(editor, editor.SendAction);
    ASSERT_TRUE(QTest::qWaitFor([&] { return boxes.texts.size() == 3 && !editor.busy(); }, 10000))
        << boxes.texts.size() << " " << (boxes.texts.empty() ? std::string() : boxes.texts.back().toStdString());
    EXPECT_EQ(boxes.captions[2], "Внимание");
    EXPECT_TRUE(boxes.texts[2].startsWith("Устройство сохранило не все настройки:\n" + kMicLevel + " (MicLevel): 12 → "))
        << boxes.texts[2].toStdString();
    ASSERT_EQ(log.size(), 2) << log.join("|").toStdString(); // the backup, the parameter not kept
    EXPECT_TRUE(log[1].startsWith("Не сохранено: " + kMicLevel + " (MicLevel): 12 → ")) << log[1].toStdString();
    EXPECT_EQ(std::count(boxes.texts.begin(), boxes.texts.end(), QString("Настройки записаны.")), 0);
    EXPECT_TRUE(editor.Modified) << "not written: the changes stay marked";
    EXPECT_EQ(list.parameters()[static_cast<size_t>(list.IndexOfKey("MicLevel"))].value, "12") << "Cancel keeps the user's value";
}

TEST_F(SafetyTest, firmware_for_another_device_type_asks_first_and_no_sends_nothing) {
    auto emu = emulator({"--type", "Z99_r1", "--version", "001.050"});
    QtDialogs real;
    RealBoxes boxes;
    boxes.keys = {Qt::Key_Return, Qt::Key_Return}; // start OK; Return on the type question is No, its default
    TMainForm f(real);
    show(f);
    QTest::mouseClick(f.BlowUpdateButton, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !f.busy() && boxes.texts.size() == 2; }, 10000));
    EXPECT_EQ(boxes.texts[1], "Тип устройства «Z99_r1» не совпадает с типом прошивки «QV_r2».\n"
                              "Загрузка чужой прошивки может вывести устройство из строя.\nПродолжить?");
    EXPECT_EQ(boxes.captions[1], "Внимание");
    QTest::qWait(50);
    EXPECT_EQ(emuLog().find("{\"type\":195,"), std::string::npos) << "no begin request";
    EXPECT_EQ(emuLog().find("{\"type\":200,"), std::string::npos) << "nothing after the version request";
    EXPECT_TRUE(f.BlowUpdateButton->isEnabled());
}
