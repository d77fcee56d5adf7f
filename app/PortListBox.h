#pragma once
// The main window's port list: the fixed COM2..COM255 items, with the ports
// that exist now marked ("COM5 — USB: <product>") in the open list. The items'
// text stays the bare name, which is what the port setting stores. The marks
// follow devices plugged in or out while the program runs.
#include <QComboBox>
#include <QString>

class QTimer;

class PortListBox : public QComboBox {
    Q_OBJECT
public:
    static constexpr int kDescriptionRole = Qt::UserRole + 1;

    explicit PortListBox(QWidget* parent);

    // Names the present ports (POSIX: updates the alias folder) and re-marks the items.
    void refreshMarks();
    // What the open list shows for an item.
    static QString shownText(const QModelIndex& index);

    void showPopup() override;
    void hidePopup() override;

private:
    QTimer* watch_;
};
