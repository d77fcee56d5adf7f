#include "PortListBox.h"

#include "DeviceChange.h"
#include "PortList.h"

#include <QAbstractItemView>
#include <QFont>
#include <QFontMetrics>
#include <QStyledItemDelegate>
#include <QTimer>
#include <map>

namespace {

// Paints the mark after the name; the item's own text is left alone.
class MarkedItemDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        option->text = PortListBox::shownText(index);
        if (!index.data(PortListBox::kDescriptionRole).toString().isEmpty())
            option->font.setBold(true);
    }
};

constexpr int kWatchIntervalMs = 1000;

} // namespace

PortListBox::PortListBox(QWidget* parent) : QComboBox(parent), watch_(new QTimer(this)) {
    setItemDelegate(new MarkedItemDelegate(this));
    // Sysfs has no change signal that is cheap to wait on; once a second while
    // the list is open is enough for a technician plugging a cable in.
    watch_->setInterval(kWatchIntervalMs);
    connect(watch_, &QTimer::timeout, this, &PortListBox::refreshMarks);
    watchDeviceChanges(this, [this] { refreshMarks(); });
}

QString PortListBox::shownText(const QModelIndex& index) {
    const QString name = index.data(Qt::DisplayRole).toString();
    const QString mark = index.data(kDescriptionRole).toString();
    return mark.isEmpty() ? name : name + " — " + mark;
}

void PortListBox::refreshMarks() {
    std::map<QString, QString> present;
    for (const PresentPort& p : refreshPortNames())
        if (!p.name.empty())
            present[QString::fromStdString(p.name)] = QString::fromUtf8(p.description.c_str());
    int widest = width();
    QFont bold = view()->font(); // marked items are drawn bold
    bold.setBold(true);
    const QFontMetrics metrics(bold);
    for (int i = 0; i < count(); ++i) {
        const auto it = present.find(itemText(i));
        const QString mark = it == present.end() ? QString() : it->second;
        if (itemData(i, kDescriptionRole).toString() != mark)
            setItemData(i, mark.isEmpty() ? QVariant() : QVariant(mark), kDescriptionRole);
        if (!mark.isEmpty())
            widest = std::max(widest, metrics.horizontalAdvance(shownText(model()->index(i, 0))) + 40);
    }
    view()->setMinimumWidth(widest);
}

void PortListBox::showPopup() {
    refreshMarks();
    watch_->start();
    QComboBox::showPopup();
}

void PortListBox::hidePopup() {
    watch_->stop();
    QComboBox::hidePopup();
}
