#include "ChangesView.h"

#include "Cp1251.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

QString ui(const std::string& cp1251Text) { return QString::fromStdString(cp1251::toUtf8(cp1251Text)); }

QString shown(const ParameterList& model, const std::string& key, const std::string& value, bool present) {
    if (!present)
        return "(нет)";
    if (value.empty())
        return "(пусто)";
    return ui(valueWithItem(model, key, value));
}

} // namespace

QString ChangesView::countText(size_t count) { return "Изменений: " + QString::number(count); }

ChangesView::ChangesView(const ParameterList& model, const std::vector<SettingChange>& changes, QWidget* parent)
    : QDialog(parent) {
    setObjectName("ChangesView");
    setWindowTitle("Изменения");
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint);
    auto* layout = new QVBoxLayout(this);
    auto* note = new QLabel("Что изменится в устройстве по сравнению с последней загрузкой (из устройства или файла):", this);
    note->setWordWrap(true);
    layout->addWidget(note);
    Table = new QTableWidget(static_cast<int>(changes.size()), 5, this);
    Table->setObjectName("ChangesTable");
    Table->setHorizontalHeaderLabels({"Группа", "Параметр", "Ключ", "Было", "Станет"});
    Table->verticalHeader()->hide();
    Table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Table->setSelectionBehavior(QAbstractItemView::SelectRows);
    for (int row = 0; row < static_cast<int>(changes.size()); ++row) {
        const SettingChange& c = changes[static_cast<size_t>(row)];
        const QStringList cells = {c.group.empty() ? QString("(нет в описании)") : ui(c.group), ui(c.name), ui(c.key),
                                   shown(model, c.key, c.oldValue, c.oldPresent), shown(model, c.key, c.newValue, c.newPresent)};
        for (int column = 0; column < cells.size(); ++column)
            Table->setItem(row, column, new QTableWidgetItem(cells[column]));
    }
    Table->resizeColumnsToContents();
    Table->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(Table, 1);
    CountLabel = new QLabel(countText(changes.size()), this);
    CountLabel->setObjectName("ChangesCount");
    layout->addWidget(CountLabel);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    resize(720, 360);
}
