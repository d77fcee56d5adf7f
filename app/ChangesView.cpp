#include "ChangesView.h"

#include "ColumnFit.h"
#include "Cp1251.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSignalBlocker>
#include <QStyle>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace {

// Kept free at each side of the screen for the window's frame.
constexpr int kScreenEdge = 16;
// The list is never shorter than this many rows, even with one change.
constexpr int kLeastRowsShown = 5;
// Room assumed while the window has no screen yet.
const QRect kNoScreenRoom(0, 0, 1024, 768);

// The longest run of a text that a line break cannot split.
QString longestWord(const QString& text, const QFontMetrics& fm) {
    QString longest;
    for (const QString& word : text.split(QRegularExpression("\\s+"), Qt::SkipEmptyParts))
        if (fm.horizontalAdvance(word) > fm.horizontalAdvance(longest))
            longest = word;
    return longest;
}

QString ui(const std::string& cp1251Text) { return QString::fromStdString(cp1251::toUtf8(cp1251Text)); }

QString shown(const ParameterList& model, const std::string& key, const std::string& value, bool present) {
    if (!present)
        return "(нет)";
    if (value.empty())
        return "(пусто)";
    return ui(valueWithItem(model, key, value));
}

std::vector<SettingChange> changesOf(const std::vector<ChangeChoice>& rows) {
    std::vector<SettingChange> out;
    for (const ChangeChoice& r : rows)
        out.push_back(r.change);
    return out;
}

} // namespace

QString ChangesView::countText(size_t count) { return "Изменений: " + QString::number(count); }

QString ChangesView::chosenText(size_t written, size_t count) {
    return countText(count) + ", записать: " + QString::number(written) + " из " + QString::number(count);
}

ChangesView::ChangesView(const ParameterList& model, const std::vector<SettingChange>& changes, QWidget* parent)
    : QDialog(parent) {
    build(model, changes, false, nullptr,
          "Что изменится в устройстве по сравнению с последней загрузкой (из устройства или файла):");
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout()->addWidget(buttons);
    fitToScreen();
}

ChangesView::ChangesView(const ParameterList& model, jobs::ChangeList& list, QWidget* parent)
    : QDialog(parent), list_(&list), checkable_(list.againstController) {
    QString note;
    if (!list.againstController)
        note = "Настройки устройства прочитать не удалось. Что изменится по сравнению с последней загрузкой "
               "(из устройства или файла):";
    else if (list.rows.empty())
        note = "Изменений нет: в устройстве уже эти значения. Записать всё равно?";
    else
        note = "Что эта запись изменит в устройстве. Снимите отметку со строки, которую записывать не нужно:";
    build(model, changesOf(list.rows), checkable_, &list.rows, note);
    auto* buttons = new QDialogButtonBox(this);
    WriteButton = buttons->addButton("Записать", QDialogButtonBox::AcceptRole);
    WriteButton->setObjectName("WriteButton");
    buttons->addButton("Отмена", QDialogButtonBox::RejectRole);
    WriteButton->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        if (checkable_)
            for (int row = 0; row < Table->rowCount(); ++row)
                list_->rows[static_cast<size_t>(row)].write = Table->item(row, 0)->checkState() == Qt::Checked;
        accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout()->addWidget(buttons);
    fitToScreen();
    if (checkable_)
        connect(Table, &QTableWidget::itemChanged, this, [this] { recount(); });
    recount();
}

void ChangesView::build(const ParameterList& model, const std::vector<SettingChange>& changes, bool checkable,
                        const std::vector<ChangeChoice>* rows, const QString& noteText) {
    setObjectName("ChangesView");
    setWindowTitle("Изменения");
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint);
    auto* layout = new QVBoxLayout(this);
    auto* note = new QLabel(noteText, this);
    note->setObjectName("ChangesNote");
    note->setWordWrap(true);
    layout->addWidget(note);
    const bool choosing = rows != nullptr;
    QStringList headers;
    if (checkable)
        headers << "Записать";
    headers << "Группа" << "Параметр" << "Ключ" << (choosing ? "В устройстве" : "Было") << (choosing ? "Будет записано" : "Станет");
    if (checkable)
        headers << "Примечание";
    Table = new QTableWidget(static_cast<int>(changes.size()), headers.size(), this);
    Table->setObjectName("ChangesTable");
    Table->setHorizontalHeaderLabels(headers);
    Table->verticalHeader()->hide();
    Table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Table->setSelectionBehavior(QAbstractItemView::SelectRows);
    Table->setSelectionMode(QAbstractItemView::SingleSelection);
    for (int row = 0; row < static_cast<int>(changes.size()); ++row) {
        const SettingChange& c = changes[static_cast<size_t>(row)];
        QStringList cells = {c.group.empty() ? QString("(нет в описании)") : ui(c.group), ui(c.name), ui(c.key),
                             shown(model, c.key, c.oldValue, c.oldPresent), shown(model, c.key, c.newValue, c.newPresent)};
        int column = 0;
        if (checkable) {
            const ChangeChoice& choice = (*rows)[static_cast<size_t>(row)];
            // The checkbox lives in the row's first cell: Space on the row toggles it.
            auto* box = new QTableWidgetItem;
            box->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
            box->setCheckState(choice.write ? Qt::Checked : Qt::Unchecked);
            Table->setItem(row, column++, box);
            cells << (choice.kept ? QString::fromUtf8(kKeptNote) : QString());
        }
        for (const QString& text : cells)
            Table->setItem(row, column++, new QTableWidgetItem(text));
    }
    // A long text wraps in its cell and the row grows, rather than being cut.
    Table->setWordWrap(true);
    Table->verticalHeader()->setMinimumSectionSize(Table->verticalHeader()->defaultSectionSize());
    Table->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    if (Table->rowCount() > 0)
        Table->setCurrentCell(0, 0);
    layout->addWidget(Table, 1);
    CountLabel = new QLabel(countText(changes.size()), this);
    CountLabel->setObjectName("ChangesCount");
    layout->addWidget(CountLabel);
}

void ChangesView::fitToScreen() {
    ensurePolished();
    const int columns = Table->columnCount();
    QHeaderView* header = Table->horizontalHeader();
    const QFontMetrics fm(Table->font());
    // Each column measured by the table's own delegate: with its texts, then
    // with only their longest words, the narrowest it can be without cutting one.
    const QAbstractItemView* view = Table; // where the measure is public
    std::vector<ColumnNeed> needs(static_cast<size_t>(columns));
    for (int c = 0; c < columns; ++c)
        needs[static_cast<size_t>(c)] = {std::max(view->sizeHintForColumn(c), header->sectionSizeHint(c)),
                                         header->sectionSizeHint(c)};
    {
        const QSignalBlocker quiet(Table);
        for (int c = 0; c < columns; ++c) {
            QStringList texts;
            for (int r = 0; r < Table->rowCount(); ++r) {
                texts << Table->item(r, c)->text();
                Table->item(r, c)->setText(longestWord(texts.back(), fm));
            }
            ColumnNeed& need = needs[static_cast<size_t>(c)];
            need.least = std::max(need.least, view->sizeHintForColumn(c));
            for (int r = 0; r < Table->rowCount(); ++r)
                Table->item(r, c)->setText(texts[r]);
        }
    }

    const QRect screenRoom = (screen() ? screen()->availableGeometry() : kNoScreenRoom)
                                 .adjusted(kScreenEdge, kScreenEdge, -kScreenEdge, -kScreenEdge);
    const QMargins margins = layout()->contentsMargins();
    // Room for a vertical scroll bar is kept: a long list gets one.
    const int tableChrome = 2 * Table->frameWidth() + style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, Table);
    const int titleBar = style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, this);
    const int room = screenRoom.width() - margins.left() - margins.right() - tableChrome;
    const std::vector<int> widths = fitColumns(needs, room);
    int tableWidth = tableChrome;
    for (int c = 0; c < columns; ++c) {
        header->resizeSection(c, widths[static_cast<size_t>(c)]);
        tableWidth += widths[static_cast<size_t>(c)];
    }
    // A stretched last column would be squeezed when even the least widths do
    // not fit: then the list scrolls instead.
    header->setStretchLastSection(tableWidth - tableChrome <= room);
    Table->resizeRowsToContents();
    int rows = 0;
    for (int r = 0; r < Table->rowCount(); ++r)
        rows += Table->rowHeight(r);
    rows = std::max(rows, kLeastRowsShown * Table->verticalHeader()->defaultSectionSize());
    const int tableHeight = header->sizeHint().height() + rows + 2 * Table->frameWidth();

    const int width = std::min(tableWidth + margins.left() + margins.right(), screenRoom.width());
    const int inner = width - margins.left() - margins.right();
    int height = margins.top() + margins.bottom() + tableHeight;
    for (int i = 0; i < layout()->count(); ++i) {
        QLayoutItem* item = layout()->itemAt(i);
        if (item->widget() == Table)
            continue;
        height += layout()->spacing() +
                  (item->hasHeightForWidth() ? item->heightForWidth(inner) : item->sizeHint().height());
    }
    resize(width, std::min(height, screenRoom.height() - titleBar));
}

size_t ChangesView::checkedRows() const {
    size_t n = 0;
    for (int row = 0; row < Table->rowCount(); ++row)
        n += Table->item(row, 0)->checkState() == Qt::Checked;
    return n;
}

void ChangesView::recount() {
    const auto count = static_cast<size_t>(Table->rowCount());
    CountLabel->setText(checkable_ ? chosenText(checkedRows(), count) : countText(count));
}
