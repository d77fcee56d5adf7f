// The editor's model and filter without a window, and the editor and its change
// list driven from the keyboard and the mouse against the emulator.
#include "ChangesView.h"
#include "Device.h"
#include "ExchangeThread.h"
#include "Dialogs.h"
#include "Embedded.h"
#include "EmulatorProcess.h"
#include "FakeDialogs.h"
#include "ParameterModel.h"
#include "ParametrsEdit.h"
#include "PortSettingStore.h"
#include "TempDir.h"
#include "WaitFor.h"
#include "WindowDriving.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QTableWidget>
#include <QTest>
#include <QTreeView>
#include <algorithm>
#include <gtest/gtest.h>

namespace {

// Types any text, Cyrillic too (QTest::keyClicks knows only ASCII keys).
void typeText(QWidget* w, const QString& text) {
    for (const QChar c : text) {
        QTest::sendKeyEvent(QTest::Press, w, Qt::Key_unknown, QString(c), Qt::NoModifier);
        QTest::sendKeyEvent(QTest::Release, w, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
}

QStringList names(const QAbstractItemModel& m) {
    QStringList out;
    for (int g = 0; g < m.rowCount(); ++g)
        for (int i = 0; i < m.rowCount(m.index(g, 0)); ++i)
            out << m.index(i, 0, m.index(g, 0)).data().toString();
    return out;
}

} // namespace

TEST(parameter_model, every_parameter_and_its_node_find_each_other_and_the_marks_are_roles) {
    ParameterList list{embeddedText("PARAMETER_LIST")};
    list.LoadSettingsText("MicLevel=10\n");
    ParameterModel model;
    model.setList(&list);
    ASSERT_EQ(model.rowCount(), 7);
    int shown = 0;
    for (int g = 0; g < model.rowCount(); ++g) {
        const QModelIndex group = model.index(g, 0);
        EXPECT_TRUE(model.isGroup(group));
        EXPECT_EQ(model.parameter(group), nullptr);
        for (int i = 0; i < model.rowCount(group); ++i, ++shown) {
            const QModelIndex node = model.index(i, 0, group);
            Parameter* p = model.parameter(node);
            ASSERT_NE(p, nullptr);
            EXPECT_EQ(model.indexOf(p), node) << p->key;
            EXPECT_EQ(model.parent(node), group);
            EXPECT_EQ(node.data(ParameterModel::KeyRole).toString().toStdString(), p->key);
        }
    }
    EXPECT_EQ(shown, static_cast<int>(list.parameters().size())) << "every parameter has its node";

    // Two parameters with the same name in different groups still find their own.
    const QModelIndex mic = model.indexOf(&list.parameters()[static_cast<size_t>(list.IndexOfKey("MicLevel"))]);
    EXPECT_TRUE(mic.data(ParameterModel::DiffersRole).toBool());
    EXPECT_FALSE(mic.data(ParameterModel::ChangedRole).toBool());
    EXPECT_EQ(mic.parent().data(ParameterModel::CountRole).toInt(), 1);
    model.setChanged({"MicLevel"});
    EXPECT_TRUE(mic.data(ParameterModel::ChangedRole).toBool());
}

TEST(parameter_filter, text_in_any_case_key_description_and_only_changed_and_the_kept_node_stays) {
    ParameterList list{embeddedText("PARAMETER_LIST")};
    list.LoadSettingsText("");
    ParameterModel model;
    model.setList(&list);
    ParameterFilter filter;
    filter.setSourceModel(&model);
    filter.setFilter("МИКРОФОН", false, {});
    EXPECT_EQ(names(filter), QStringList({"Чувствительность микрофона"}));
    EXPECT_EQ(filter.rowCount(), 1) << "groups without a match go";
    filter.setFilter("autostart", false, {});
    ASSERT_EQ(filter.rowCount(), 1);
    EXPECT_EQ(filter.index(0, 0, filter.index(0, 0)).data(ParameterModel::KeyRole).toString(), "AutoStart") << "by its key";
    filter.setFilter("", true, {});
    EXPECT_TRUE(names(filter).isEmpty());
    model.setChanged({"MicLevel", "Balans"});
    filter.setFilter("", true, {});
    EXPECT_EQ(names(filter).size(), 2);
    const QModelIndex pin = model.indexOf(&list.parameters()[static_cast<size_t>(list.IndexOfKey("PinCod"))]);
    filter.setFilter("баланс", false, pin);
    const QStringList kept = names(filter);
    ASSERT_GE(kept.size(), 2);
    EXPECT_EQ(kept[0], "Пин код ") << "the kept node stays in sight";
    EXPECT_EQ(kept[1], "Запрос баланса");
    filter.setFilter("", false, {});
    EXPECT_EQ(names(filter).size(), static_cast<int>(list.parameters().size()));
}

namespace {

struct EditorDriving : ::testing::Test, IsolatedSetup {
    QtDialogs real;
    RealBoxes boxes;
    ParameterList list{embeddedText("PARAMETER_LIST")};
    ExchangeThread exchanges;
    jobs::Runner runner{exchanges.makeExecutor()};
    std::unique_ptr<TParametersEditForm> editor;

    void open(const std::string& loaded, TParametersEditForm::LoadSource source = {}) {
        runner.setDevice(std::make_shared<Device>("COM7"));
        editor = std::make_unique<TParametersEditForm>(real, &runner);
        list.LoadSettingsText(loaded);
        editor->Params = &list;
        editor->setLoadedText(loaded, source);
        shown(*editor);
        editor->activateWindow();
        (void)QTest::qWaitForWindowActive(editor.get());
    }
    void TearDown() override {
        if (editor)
            editor->Modified = false;
    }
    std::string value(const char* key) { return list.parameters()[static_cast<size_t>(list.IndexOfKey(key))].value; }
    std::unique_ptr<EmulatorProcess> emulator(const std::string& settings) {
        portSettingStore().write("COM7");
        return std::make_unique<EmulatorProcess>(std::vector<std::string>{
            "--register", "COM7", "--log", dir / "emu.jsonl", "--serial", "77", "--settings-text", settings});
    }
    // The text of the last settings frame the controller was sent.
    std::string lastWrite() {
        const std::string log = readWhole(dir / "emu.jsonl"), needle = "{\"type\":201,";
        const size_t at = log.rfind(needle);
        return at == std::string::npos ? std::string() : log.substr(at, log.find('\n', at) - at);
    }
};

} // namespace

// Filter, Down, the value, Tab: no mouse at all.
TEST_F(EditorDriving, the_keyboard_alone_finds_a_parameter_and_changes_it) {
    open("");
    editor->FilterEdit->setFocus(Qt::TabFocusReason);
    typeText(editor->FilterEdit, "микро");
    QTest::keyClick(editor->FilterEdit, Qt::Key_Down);
    ASSERT_NE(editor->currentParameter(), nullptr);
    EXPECT_EQ(editor->currentParameter()->key, "MicLevel");
    EXPECT_TRUE(editor->Tree->hasFocus());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), editor->ValueEdit) << "Tab goes from the tree to the value";
    QTest::keyClick(editor->ValueEdit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(editor->ValueEdit, "0");
    QTest::keyClick(editor->ValueEdit, Qt::Key_Tab); // leaving the box commits: refused
    ASSERT_TRUE(QTest::qWaitFor([&] { return boxes.texts.size() == 1; }, 3000));
    EXPECT_EQ(boxes.texts[0], "0 - маловато будет.");
    EXPECT_EQ(editor->currentParameter()->key, "MicLevel") << "a refusal keeps the parameter";
    // The box gave the focus back to the editor, as the window system does.
    editor->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(editor.get()));
    QTest::qWait(20);
    editor->ValueEdit->setFocus(Qt::TabFocusReason);
    QTest::keyClick(editor->ValueEdit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(editor->ValueEdit, "12");
    EXPECT_EQ(editor->ValueEdit->text(), "12");
    QTest::keyClick(editor->ValueEdit, Qt::Key_Tab);
    EXPECT_EQ(value("MicLevel"), "12") << (QApplication::focusWidget() ? QApplication::focusWidget()->objectName().toStdString() : "");
    EXPECT_TRUE(editor->Modified);

    // Enter in the filter does the same as Down.
    editor->FilterEdit->setFocus(Qt::TabFocusReason);
    QTest::keyClick(editor->FilterEdit, Qt::Key_A, Qt::ControlModifier);
    typeText(editor->FilterEdit, "баланс");
    QTest::keyClick(editor->FilterEdit, Qt::Key_Return);
    ASSERT_NE(editor->currentParameter(), nullptr);
    EXPECT_EQ(editor->currentParameter()->key, "Balans");
    EXPECT_TRUE(boxes.texts.size() == 1) << "no box: the editor stays open";
}

// Alt reaches the menu; the list of changes opens from it with the keys.
TEST_F(EditorDriving, the_menu_answers_alt_and_the_arrow_keys) {
    open("MicLevel=10\n");
    list.SetValueByKey("MicLevel", "12");
    editor->refreshMarks();
    auto* bar = editor->findChild<QMenuBar*>();
    ASSERT_NE(bar, nullptr);
    editor->Tree->setFocus();
    QTest::keyClick(editor.get(), Qt::Key_Alt);
    ASSERT_TRUE(QTest::qWaitFor([&] { return bar->activeAction() != nullptr; }, 2000)) << "Alt highlights the menu bar";
    EXPECT_EQ(bar->activeAction(), editor->SaveAction);
    QTest::keyClick(bar, Qt::Key_Right);
    QTest::keyClick(bar, Qt::Key_Right);
    EXPECT_EQ(bar->activeAction()->text(), "Сервис");
    QTest::keyClick(bar, Qt::Key_Down);
    auto* service = editor->findChild<QMenu*>("ServiceMenu");
    ASSERT_TRUE(QTest::qWaitFor([&] { return service->isVisible(); }, 2000));
    QTest::keyClick(service, Qt::Key_Return); // its first entry: "Изменения"
    ASSERT_TRUE(QTest::qWaitFor([&] { return boxes.captions.size() == 1; }, 3000));
    EXPECT_EQ(boxes.captions[0], "Изменения");
}

// Space unchecks a row of the write's list; the controller keeps its value of it.
TEST_F(EditorDriving, send_with_a_row_unchecked_keeps_the_controllers_value_and_cancel_sends_nothing) {
    auto emu = emulator("MicLevel=10\\nPinCod=4821\\n");
    open("MicLevel=10\nPinCod=4821\n");
    list.SetValueByKey("MicLevel", "12");
    list.SetValueByKey("PinCod", "1111");
    QStringList listed;
    QString count;
    QTimer chooser; // the user at the list: Space on the first row (PinCod), then Enter
    QObject::connect(&chooser, &QTimer::timeout, [&] {
        auto* view = qobject_cast<ChangesView*>(QApplication::activeModalWidget());
        if (!view || view->property("seen").toBool() || !view->WriteButton)
            return;
        view->setProperty("seen", true);
        for (int r = 0; r < view->Table->rowCount(); ++r)
            listed << view->Table->item(r, 3)->text() + " " + view->Table->item(r, 4)->text() + " → " +
                          view->Table->item(r, 5)->text();
        view->Table->setFocus();
        QTest::keyClick(view->Table, Qt::Key_Space);
        count = view->CountLabel->text();
        QTest::keyClick(view, Qt::Key_Return);
    });
    chooser.start(5);
    boxes.answerLists = false;
    boxes.keys = {Qt::Key_Return}; // "Записать настройки в устройство?" OK
    editor->SendActionExecute();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !editor->busy() && !lastWrite().empty(); }, 10000));
    EXPECT_EQ(listed, QStringList({"PinCod 4821 → 1111", "MicLevel 10 → 12"})) << "the controller's values";
    EXPECT_EQ(count, "Изменений: 2, записать: 1 из 2");
    EXPECT_NE(lastWrite().find("\"text\":\"PinCod=4821\\u000aMicLevel=12\\u000a\""), std::string::npos) << lastWrite();
    ASSERT_TRUE(QTest::qWaitFor([&] { return std::count(boxes.texts.begin(), boxes.texts.end(), QString("Настройки записаны.")) == 1; }, 3000));
    EXPECT_TRUE(editor->Modified) << "the unchecked change is not written";
    EXPECT_EQ(value("PinCod"), "1111") << "the editor keeps the user's value";
    EXPECT_TRUE(editor->nodeOfKey("PinCod").data(ParameterModel::ChangedRole).toBool()) << "and marks it";
    EXPECT_FALSE(editor->nodeOfKey("MicLevel").data(ParameterModel::ChangedRole).toBool()) << "written";
}

TEST_F(EditorDriving, a_file_of_another_controller_starts_with_its_owners_rows_unchecked) {
    auto emu = emulator("PinCod=4821\\nUserNumber1=+79161234567\\nMicLevel=10\\n");
    open("PinCod=1111\nUserNumber1=+70000000000\nMicLevel=12\n", {true, 12345u});
    QStringList notes;
    std::vector<bool> checked;
    int lists = 0;
    QTimer chooser;
    QObject::connect(&chooser, &QTimer::timeout, [&] {
        auto* view = qobject_cast<ChangesView*>(QApplication::activeModalWidget());
        if (!view || view->property("seen").toBool() || !view->WriteButton)
            return;
        view->setProperty("seen", true);
        ++lists;
        for (int r = 0; r < view->Table->rowCount(); ++r) {
            checked.push_back(view->Table->item(r, 0)->checkState() == Qt::Checked);
            notes << view->Table->item(r, 6)->text();
        }
        QTest::keyClick(view, lists == 1 ? Qt::Key_Escape : Qt::Key_Return); // Отмена, then Записать
    });
    chooser.start(5);
    boxes.answerLists = false;
    boxes.keys = {Qt::Key_Return};
    editor->SendActionExecute();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !editor->busy() && lists == 1; }, 10000));
    EXPECT_EQ(checked, (std::vector<bool>{false, false, true}));
    EXPECT_EQ(notes, QStringList({"значение этого устройства сохранено", "значение этого устройства сохранено", ""}));
    EXPECT_TRUE(lastWrite().empty()) << "Отмена sends nothing";

    boxes.keys = {Qt::Key_Return};
    editor->SendActionExecute();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !editor->busy() && !lastWrite().empty(); }, 10000));
    EXPECT_NE(lastWrite().find("PinCod=4821\\u000aUserNumber1=+79161234567\\u000aMicLevel=12"), std::string::npos)
        << lastWrite();
}
