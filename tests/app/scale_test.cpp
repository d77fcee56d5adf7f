// The windows at the display scale this run has (QT_SCALE_FACTOR on Linux, the
// Windows display setting under Wine): every text inside its own widget (the
// cells of a list too, without scrolling sideways), and the glyphs whole.
#include "ChangesView.h"
#include "Dialogs.h"
#include "Embedded.h"
#include "EmulatorProcess.h"
#include "FakeDialogs.h"
#include "ParameterModel.h"
#include "ParametrsEdit.h"
#include "PortSettingStore.h"
#include "TempDir.h"
#include "WaitNote.h"
#include "WindowFont.h"
#include "WindowDriving.h"
#include "Z58main.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyleOptionComboBox>
#include <QStyleOptionGroupBox>
#include <QTableWidget>
#include <QTreeView>
#include <fstream>
#include <gtest/gtest.h>

namespace {

QString scaleNote() {
    return QString("scale %1 on %2").arg(qApp->devicePixelRatio()).arg(QGuiApplication::platformName());
}

std::string where(const QWidget* w, const QString& text) {
    return (w->objectName() + " \"" + text + "\" at " + scaleNote()).toStdString();
}

// Each line of a label, and the lines together, within its contents.
void checkLabel(const QLabel* l) {
    if (l->text().isEmpty() || l->textFormat() == Qt::RichText)
        return;
    const QFontMetrics fm(l->font());
    const QRect room = l->contentsRect();
    if (l->wordWrap()) {
        const QRect need = fm.boundingRect(room, int(l->alignment()) | Qt::TextWordWrap, l->text());
        EXPECT_LE(need.height(), room.height()) << where(l, l->text());
        return;
    }
    const QStringList lines = l->text().split('\n');
    for (const QString& line : lines)
        EXPECT_LE(fm.horizontalAdvance(line), room.width()) << where(l, line);
    EXPECT_LE(fm.height() + fm.lineSpacing() * (lines.size() - 1), room.height()) << where(l, l->text());
}

void checkButton(const QPushButton* b) {
    if (b->text().isEmpty())
        return;
    const QFontMetrics fm(b->font());
    const int margins = 2 * b->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, b);
    QString text = b->text();
    text.remove('&');
    EXPECT_LE(fm.horizontalAdvance(text) + margins, b->width()) << where(b, text);
    EXPECT_LE(fm.height(), b->height()) << where(b, text);
}

void checkGroupBox(const QGroupBox* g) {
    if (g->title().isEmpty())
        return;
    QStyleOptionGroupBox opt;
    opt.initFrom(g);
    opt.text = g->title();
    opt.lineWidth = 1;
    opt.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
    opt.textAlignment = g->alignment();
    const QRect label = g->style()->subControlRect(QStyle::CC_GroupBox, &opt, QStyle::SC_GroupBoxLabel, g);
    // The ink of the title (its padding spaces are the style's business).
    EXPECT_GE(label.width(), QFontMetrics(g->font()).horizontalAdvance(g->title().trimmed())) << where(g, g->title());
    EXPECT_TRUE(g->rect().contains(label)) << where(g, g->title());
}

void checkCheckBox(const QCheckBox* c) { EXPECT_LE(c->sizeHint().width(), c->width()) << where(c, c->text()); }

void checkCombo(const QComboBox* c) {
    QStyleOptionComboBox opt;
    opt.initFrom(c);
    opt.editable = c->isEditable();
    opt.currentText = c->currentText();
    const QRect field = c->style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, c);
    EXPECT_LE(QFontMetrics(c->font()).horizontalAdvance(c->currentText()), field.width()) << where(c, c->currentText());
    EXPECT_LE(QFontMetrics(c->font()).height(), field.height()) << where(c, c->currentText());
}

void checkLineEdit(const QLineEdit* e) {
    EXPECT_LE(QFontMetrics(e->font()).height(), e->height()) << where(e, e->text());
}

void checkMenuBar(const QMenuBar* bar) {
    for (QAction* a : bar->actions()) {
        const QRect r = bar->actionGeometry(a);
        QString text = a->text();
        text.remove('&');
        EXPECT_FALSE(r.isEmpty()) << where(bar, text) << ": every entry on the bar, none in an overflow";
        EXPECT_TRUE(bar->rect().contains(r)) << where(bar, text);
        EXPECT_GE(r.width(), QFontMetrics(bar->font()).horizontalAdvance(text)) << where(bar, text);
    }
}

void checkTree(const QTreeView* tree) {
    QFont bold = tree->font();
    bold.setBold(true);
    const int need = QFontMetrics(bold).height();
    const QAbstractItemModel* m = tree->model();
    for (int g = 0; g < m->rowCount(); ++g) {
        const QModelIndex group = m->index(g, 0);
        EXPECT_GE(tree->visualRect(group).height(), need) << where(tree, group.data().toString());
        for (int i = 0; tree->isExpanded(group) && i < m->rowCount(group); ++i)
            EXPECT_GE(tree->visualRect(m->index(i, 0, group)).height(), need)
                << where(tree, m->index(i, 0, group).data().toString());
    }
}

// Every column in sight without scrolling sideways, each header whole in its
// section (bold, as the header draws it over a selected row), and each cell's
// text whole in its cell, wrapped where the column is narrower than the text.
void checkTable(const QTableView* t) {
    const QAbstractItemModel* m = t->model();
    const QHeaderView* header = t->horizontalHeader();
    QFont bold = header->font();
    bold.setBold(true);
    const int headerMargin = t->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
    const int textMargin = t->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, t) + 1;
    const QFontMetrics fm(t->font());
    EXPECT_FALSE(t->horizontalScrollBar()->isVisible()) << where(t, "") << ": no scrolling sideways";
    for (int c = 0; c < m->columnCount(); ++c) {
        const QString title = m->headerData(c, Qt::Horizontal).toString();
        EXPECT_GE(t->columnViewportPosition(c), 0) << where(t, title);
        EXPECT_LE(t->columnViewportPosition(c) + t->columnWidth(c), t->viewport()->width())
            << where(t, title) << ": the column ends in sight";
        EXPECT_LE(QFontMetrics(bold).horizontalAdvance(title) + 2 * headerMargin, header->sectionSize(c)) << where(t, title);
        for (int r = 0; r < m->rowCount(); ++r) {
            const QString text = m->index(r, c).data().toString();
            if (text.isEmpty())
                continue;
            const QRect room = t->visualRect(m->index(r, c)).adjusted(textMargin, 0, -textMargin, 0);
            const int wrap = t->wordWrap() ? Qt::TextWordWrap : 0; // as the view draws it
            const QRect need = fm.boundingRect(QRect(0, 0, room.width(), 1 << 20), Qt::AlignLeft | wrap, text);
            EXPECT_LE(need.width(), room.width()) << where(t, text) << " (cut at the side)";
            EXPECT_LE(need.height(), room.height()) << where(t, text) << " (cut below)";
        }
    }
}

// Every visible text widget of a shown window.
void checkWindow(QWidget& w) {
    for (auto* l : w.findChildren<QLabel*>())
        if (l->isVisible())
            checkLabel(l);
    for (auto* b : w.findChildren<QPushButton*>())
        if (b->isVisible())
            checkButton(b);
    for (auto* g : w.findChildren<QGroupBox*>())
        if (g->isVisible())
            checkGroupBox(g);
    for (auto* c : w.findChildren<QCheckBox*>())
        if (c->isVisible())
            checkCheckBox(c);
    for (auto* c : w.findChildren<QComboBox*>())
        if (c->isVisible())
            checkCombo(c);
    for (auto* e : w.findChildren<QLineEdit*>())
        if (e->isVisible() && !qobject_cast<QComboBox*>(e->parentWidget()))
            checkLineEdit(e);
    for (auto* bar : w.findChildren<QMenuBar*>())
        if (bar->isVisible())
            checkMenuBar(bar);
    for (auto* t : w.findChildren<QTreeView*>())
        if (t->isVisible())
            checkTree(t);
    for (auto* t : w.findChildren<QTableView*>())
        if (t->isVisible())
            checkTable(t);
}

// How much ink the outer quarter of columns on each side of a rendered "О" has:
// a round glyph has its vertical strokes there, as much on the left as on the
// right. One that lost its left stroke (as Tahoma did at a scaled display
// under Wine) has far less ink on the left.
std::pair<long, long> glyphSides(const QFont& font) {
    QLabel probe("О");
    probe.setFont(font);
    probe.setAutoFillBackground(true);
    QPalette p = probe.palette();
    p.setColor(QPalette::Window, Qt::white);
    p.setColor(QPalette::WindowText, Qt::black);
    probe.setPalette(p);
    probe.setContentsMargins(4, 0, 4, 0);
    probe.adjustSize();
    probe.show();
    (void)QTest::qWaitForWindowExposed(&probe);
    const QImage img = probe.grab().toImage().convertToFormat(QImage::Format_Grayscale8);
    std::vector<long> ink;
    for (int x = 0; x < img.width(); ++x) {
        long column = 0;
        for (int y = 0; y < img.height(); ++y)
            column += 255 - qGray(img.pixel(x, y));
        if (column > 0 || !ink.empty())
            ink.push_back(column);
    }
    while (!ink.empty() && ink.back() == 0)
        ink.pop_back();
    if (ink.size() < 3)
        return {0, 0};
    const size_t side = (ink.size() + 3) / 4;
    long left = 0, right = 0;
    for (size_t i = 0; i < side; ++i) {
        left += ink[i];
        right += ink[ink.size() - 1 - i];
    }
    return {left, right};
}

// With the program's own window font, as the program sets it.
struct DisplayScale : ::testing::Test, IsolatedSetup {
    FakeDialogs dialogs;
    QFont before = QApplication::font();
    DisplayScale() { QApplication::setFont(windowFont()); }
    ~DisplayScale() override { QApplication::setFont(before); }
    void SetUp() override {
#ifdef _WIN32
        // Windows' offscreen platform has fonts of its own; what a user sees is
        // drawn by the windows platform, where the Windows stage runs these tests.
        if (QGuiApplication::platformName() != "windows")
            GTEST_SKIP() << "measured on the windows platform, not " << QGuiApplication::platformName().toStdString();
#endif
    }
};

} // namespace

TEST_F(DisplayScale, every_text_of_the_main_window_and_the_editor_fits_its_widget) {
    TMainForm f(dialogs);
    TParametersEditForm editor(dialogs, &f.runner(), &f);
    f.setEditor(&editor);
    shown(f);
    checkWindow(f);

    ParameterList list{embeddedText("PARAMETER_LIST")};
    list.LoadSettingsText("MicLevel=10\nAutoStart=99\n");
    editor.Params = &list;
    shown(editor);
    for (const char* key : {"AutoStart", "MicLevel"}) { // a value list, then an edit box
        editor.Tree->setCurrentIndex(editor.nodeOfKey(key));
        checkWindow(editor);
    }
    editor.Modified = false;
}

TEST_F(DisplayScale, the_change_list_and_a_message_box_fit_their_texts) {
    ParameterList list{embeddedText("PARAMETER_LIST")};
    jobs::ChangeList changes{chooseChanges(list, "MicLevel=10\nPinCod=4821\n", "MicLevel=12\nPinCod=1111\n", {"PinCod"}), true};
    ChangesView view(list, changes, nullptr);
    shown(view);
    checkWindow(view);

    QMessageBox box(QMessageBox::Warning, "Внимание",
                    "Тип устройства «Z99_r1» не совпадает с типом прошивки «QV_r2».\n"
                    "Загрузка чужой прошивки может вывести устройство из строя.\nПродолжить?",
                    QMessageBox::Yes | QMessageBox::No);
    shown(box);
    checkWindow(box);
}

namespace {

// Real message boxes and modal windows; Open file picks the file given, and the
// editor, once opened, is the test's to drive.
struct PickedFile : QtDialogs {
    QString file;
    std::function<void(TParametersEditForm&)> onEditor;
    QString openFile(QWidget*, const QString&, const QString&) override { return file; }
    void showModal(QDialog* w) override {
        if (auto* editor = qobject_cast<TParametersEditForm*>(w); editor && onEditor)
            onEditor(*editor);
        else
            QtDialogs::showModal(w);
    }
};

} // namespace

// Open file with another controller's settings, Send from the editor's menu, OK:
// the change list, with the note on the owner's rows, read whole at this scale.
TEST_F(DisplayScale, the_change_list_of_a_send_from_another_controllers_file_shows_every_cell_whole) {
    portSettingStore().write("COM7");
    EmulatorProcess emu({"--register", "COM7", "--serial", "77", "--settings-text",
                         "PinCod=4821\\nUserNumber1=+79161234567\\nMicLevel=10\\n"});
    const std::string file = dir / "customer.txt";
    std::ofstream(file, std::ios::binary) << "PinCod=1111\r\nUserNumber1=+70000000000\r\nMicLevel=12\r\n";
    PickedFile pick;
    pick.file = QString::fromStdString(file);
    RealBoxes boxes; // "Записать настройки в устройство?": OK
    boxes.answerLists = false;
    int lists = 0;
    QStringList notes;
    QTimer user; // looks at the list once it is up, then leaves it with Отмена
    QObject::connect(&user, &QTimer::timeout, [&] {
        auto* view = qobject_cast<ChangesView*>(QApplication::activeModalWidget());
        if (!view || !view->isVisible() || view->property("seen").toBool())
            return;
        view->setProperty("seen", true);
        ++lists;
        QTest::qWait(50);
        checkWindow(*view);
        for (int r = 0; r < view->Table->rowCount(); ++r) {
            notes << view->Table->item(r, view->Table->columnCount() - 1)->text();
            EXPECT_LE(view->Table->rowViewportPosition(r) + view->Table->rowHeight(r), view->Table->viewport()->height())
                << "row " << r << " in sight at " << scaleNote().toStdString();
        }
        EXPECT_TRUE(view->screen()->availableGeometry().contains(view->geometry()))
            << "the list within its screen at " << scaleNote().toStdString();
        QTest::keyClick(view, Qt::Key_Escape);
    });
    user.start(5);

    TMainForm f(pick);
    TParametersEditForm editor(pick, &f.runner(), &f);
    f.setEditor(&editor);
    pick.onEditor = [&](TParametersEditForm& e) {
        shown(e);
        e.activateWindow();
        (void)QTest::qWaitForWindowActive(&e);
        auto* bar = e.findChild<QMenuBar*>();
        ASSERT_NE(bar, nullptr);
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(e.SendAction).center());
        EXPECT_TRUE(QTest::qWaitFor([&] { return lists == 1 && !e.busy(); }, 15000));
        e.Modified = false;
        e.hide();
    };
    shown(f);
    click(f.OpenFileButton);
    ASSERT_EQ(lists, 1);
    EXPECT_EQ(notes, QStringList({"значение этого устройства сохранено", "значение этого устройства сохранено", ""}));
}

TEST_F(DisplayScale, the_waiting_line_and_the_search_box_fit_their_texts) {
    TMainForm f(dialogs);
    shown(f);
    QElapsedTimer since;
    since.start();
    {
        WaitNote wait(&f, 20000, false, since);
        QLabel* line = nullptr;
        ASSERT_TRUE(QTest::qWaitFor([&] { return (line = f.findChild<QLabel*>("WaitLine")) && line->isVisible(); }, 3000));
        checkWindow(f);
    }
    WaitNote search(&f, 4000, true, since);
    search.setPort("COM254");
    QWidget* box = nullptr;
    ASSERT_TRUE(QTest::qWaitFor([&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == "SearchBox" && w->isVisible())
                box = w;
        return box != nullptr;
    }, 3000));
    QTest::qWait(50);
    checkWindow(*box);
    QApplication::restoreOverrideCursor();
}

TEST_F(DisplayScale, glyphs_are_drawn_whole) {
    TMainForm f(dialogs);
    shown(f);
    for (const QFont& font : {f.font(), f.BlowUpdateButton->font()}) {
        const auto [left, right] = glyphSides(font);
        ASSERT_GT(left + right, 0) << "nothing drawn";
        EXPECT_GT(left * 100, right * 65) << "the left stroke of \"О\" is missing: " << left << " vs " << right << " in "
                                       << font.family().toStdString() << " at " << scaleNote().toStdString();
        EXPECT_GT(right * 100, left * 65) << left << " vs " << right;
    }
}
