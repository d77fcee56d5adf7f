#pragma once
// A series' units as a table for the series window, one row per unit in the
// order they started: port, serial number, type, firmware before and after,
// each step's mark, the outcome and the time taken (still running: so far).
// A running upload's bar is drawn in the outcome cell by SeriesBarDelegate.
#include "Series.h"

#include <QAbstractTableModel>
#include <QStyledItemDelegate>
#include <vector>

class SeriesModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // The outcome last: it takes the room that is left, a long reason cut short there (in full as its tip).
    enum Column { Number, Port, Serial, Type, Firmware, FirstStep, Time = FirstStep + jobs::kUnitStepCount, Outcome, ColumnCount };
    static bool isStep(int column) { return column >= FirstStep && column < Time; }
    // The outcome cell's bar: value, maximum (0: none) and the step uploading.
    static constexpr int kProgressRole = Qt::UserRole;
    static constexpr int kProgressMaximumRole = Qt::UserRole + 1;
    static constexpr int kProgressStepRole = Qt::UserRole + 2;

    explicit SeriesModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}

    // A row as the series tells it: a new unit appends one.
    void update(const jobs::UnitRow& row);
    void clear();
    // The series was dropped (the window closed mid-run): rows still running say so.
    void interrupt();
    // The running rows' times, as they go on.
    void tick();
    const jobs::UnitRow* row(int index) const;
    // The unit's row, -1 when it has none.
    int rowOf(int number) const;
    // Some unit is in the middle of an upload.
    bool uploading() const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // "✓", "✗", "—" (skipped), "…" (running), "" (waiting).
    static QString markText(jobs::StepMark mark);
    // The outcome cell's text: the running step, выполнено, the failure and why, остановлено.
    static QString outcomeText(const jobs::UnitRow& row, bool interrupted = false);
    // "0:07", "12:34", "1:02:03".
    static QString durationText(double seconds);

private:
    struct Entry {
        jobs::UnitRow row;
        bool interrupted = false;
    };
    std::vector<Entry> rows_;
};

// Draws a running upload's bar in the outcome cell (its step and percentage on
// it); every other cell as usual.
class SeriesBarDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};
