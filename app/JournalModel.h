#pragma once
// The service journal's records as a table, newest first, for the journal
// window: the records a filter selects, read a page at a time as the view
// scrolls to them (canFetchMore / fetchMore), without their backup text. The
// store is the main window's, borrowed. With a workshop server set the rows
// are the server's, of every PC (this PC's records still waiting to be sent
// among them), read on the server's thread; until they come, and whenever the
// server cannot be read, this PC's are shown. This PC's records the server
// refused are listed too, their PC marked (kRefusedMark).
#include "JobRecord.h"
#include "JournalStore.h"

#include <QAbstractTableModel>
#include <cstddef>
#include <functional>
#include <string>
#include <unordered_set>
#include <vector>

class WorkshopServer;

class JournalModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Time, Serial, Type, Kind, Outcome, Firmware, Pc, User, ColumnCount };
    // The first page: a screenful many times over, and quick to read.
    static constexpr std::size_t kPageSize = 200;

    explicit JournalModel(journal::JournalStore& store, QObject* parent = nullptr);

    // Reads the server's records when server (borrowed, outlives the model)
    // has one set; this PC's otherwise. Takes effect with the next setFilter.
    void setServer(WorkshopServer* server) { server_ = server; }

    // Reads the newest records of filter from the first page on (its limit is
    // the model's). False when this PC's journal could not be read: the
    // store's problem() says why, and the table is empty. With a server the
    // read of its records starts, and serverRead() tells when it ended.
    // askServer false: this PC's rows only for now (the server is being checked).
    bool setFilter(const journal::RecordFilter& filter, bool askServer = true);
    // The same filter again: records written since come in.
    bool reload() { return setFilter(filter_); }
    // The filter as set, without a limit: every record it selects.
    const journal::RecordFilter& filter() const { return filter_; }
    // Every record the filter selects has been read.
    bool complete() const { return complete_; }
    const journal::JobRecord* record(int row) const;
    // -1 when the record is not among those read so far.
    int rowOf(const std::string& id) const;
    // Rows of this PC's records the server refused (set aside), among those read so far.
    std::size_t refusedRows() const;

    // The rows are the server's.
    bool fromServer() const { return fromServer_; }
    // A read of the server is under way.
    bool loading() const { return loading_; }
    // Why the server's records are not shown: the server journal's problem
    // ("" when they are, or no server is set, or none was read yet).
    const std::string& serverProblem() const { return serverProblem_; }
    // The last read of the server wanted a password libpq's password file does not give.
    bool serverNeedsPassword() const { return needsPassword_; }
    // Another server (or none) is in use: what was read from the last one goes
    // with the next setFilter, and its answers still on the way are dropped.
    void forgetServer();
    // The server could not be reached (a check said so): this PC's rows stay.
    void setServerProblem(const std::string& problem, bool needsPassword);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

signals:
    // Reading the next page failed: the store's problem() says why.
    void readFailed();
    // A read of the server ended: its rows are shown, or this PC's in their place.
    void serverRead();

private:
    enum class Read { Done, Failed, Moved };
    using Each = std::function<void(const journal::JobRecord&)>;
    // The newest `limit` records as source gives them; those after the last
    // one read so far go to added. Moved: that last one is no longer among them.
    Read readUpTo(std::size_t limit, std::vector<journal::JobRecord>& added,
                  const std::function<bool(const Each&)>& source);
    Read readLocal(std::size_t limit, std::vector<journal::JobRecord>& added);
    bool resetLocal();
    void replaceRows(std::vector<journal::JobRecord> records);
    void appendRows(std::vector<journal::JobRecord> added);
    // Asks the server for the newest `limit` records of the filter.
    void readServer(std::size_t limit);
    bool serverSet() const;

    journal::JournalStore& store_;
    WorkshopServer* server_ = nullptr;
    journal::RecordFilter filter_;
    std::vector<journal::JobRecord> records_;
    std::unordered_set<std::string> ids_;
    bool complete_ = true;
    bool fromServer_ = false, loading_ = false, needsPassword_ = false;
    std::string serverProblem_;
    unsigned generation_ = 0; // of the filter: an answer to an older one is dropped
};
