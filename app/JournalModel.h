#pragma once
// The service journal's records as a table, newest first, for the journal
// window: the records a filter selects, read a page at a time as the view
// scrolls to them (canFetchMore / fetchMore), without their backup text. The
// store is the main window's, borrowed.
#include "JobRecord.h"
#include "JournalStore.h"

#include <QAbstractTableModel>
#include <cstddef>
#include <string>
#include <unordered_set>
#include <vector>

class JournalModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Time, Serial, Type, Kind, Outcome, Firmware, Pc, User, ColumnCount };
    // The first page: a screenful many times over, and quick to read.
    static constexpr std::size_t kPageSize = 200;

    explicit JournalModel(journal::JournalStore& store, QObject* parent = nullptr);

    // Reads the newest records of filter from the first page on (its limit is
    // the model's). False when the journal could not be read: the store's
    // problem() says why, and the table is empty.
    bool setFilter(const journal::RecordFilter& filter);
    // The same filter again: records written since come in.
    bool reload() { return setFilter(filter_); }
    // The filter as set, without a limit: every record it selects.
    const journal::RecordFilter& filter() const { return filter_; }
    // Every record the filter selects has been read.
    bool complete() const { return complete_; }
    const journal::JobRecord* record(int row) const;
    // -1 when the record is not among those read so far.
    int rowOf(const std::string& id) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

signals:
    // Reading the next page failed: the store's problem() says why.
    void readFailed();

private:
    enum class Read { Done, Failed, Moved };
    // The newest `limit` records; those after the last one read so far go to
    // added. Moved: that last one is no longer among them.
    Read readUpTo(std::size_t limit, std::vector<journal::JobRecord>& added);

    journal::JournalStore& store_;
    journal::RecordFilter filter_;
    std::vector<journal::JobRecord> records_;
    std::unordered_set<std::string> ids_;
    bool complete_ = true;
};
