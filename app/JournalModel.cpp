#include "JournalModel.h"

#include "DeviceInfo.h"
#include "JournalTexts.h"
#include "ServerQueries.h"
#include "WorkshopServer.h"

#include <QBrush>
#include <QColor>
#include <algorithm>

namespace {

QString text(const std::string& utf8) { return QString::fromUtf8(utf8.data(), static_cast<int>(utf8.size())); }

const QColor kTroubleColour(160, 0, 0);

QString firmwareText(const journal::JobRecord& r) {
    if (r.firmwareAfter.empty() || r.firmwareAfter == r.firmwareBefore)
        return text(r.firmwareBefore);
    const QString after = r.firmwareAfter == journal::kNotRead ? QString("не прочитана") : text(r.firmwareAfter);
    return text(r.firmwareBefore) + " → " + after;
}
} // namespace

JournalModel::JournalModel(journal::JournalStore& store, QObject* parent) : QAbstractTableModel(parent), store_(store) {}

bool JournalModel::serverSet() const { return server_ && server_->queries(); }

JournalModel::Read JournalModel::readUpTo(std::size_t limit, std::vector<journal::JobRecord>& added,
                                          const std::function<bool(const Each&)>& source) {
    // New records come in at the top (they started later than any read so
    // far); what follows the last record read is what this page adds.
    const std::string last = records_.empty() ? std::string() : records_.back().id;
    bool past = last.empty();
    std::size_t seen = 0;
    const bool ok = source([&](const journal::JobRecord& r) {
        ++seen;
        if (!past) {
            past = r.id == last;
            return;
        }
        if (!ids_.count(r.id))
            added.push_back(r);
    });
    complete_ = !ok || seen < limit;
    if (!ok)
        return Read::Failed;
    return past ? Read::Done : Read::Moved;
}

JournalModel::Read JournalModel::readLocal(std::size_t limit, std::vector<journal::JobRecord>& added) {
    journal::RecordFilter f = filter_;
    f.limit = limit;
    return readUpTo(limit, added, [&](const Each& each) { return store_.forEach(f, each); });
}

void JournalModel::replaceRows(std::vector<journal::JobRecord> records) {
    beginResetModel();
    records_ = std::move(records);
    ids_.clear();
    for (const journal::JobRecord& r : records_)
        ids_.insert(r.id);
    endResetModel();
}

void JournalModel::appendRows(std::vector<journal::JobRecord> added) {
    if (added.empty())
        return;
    const int first = static_cast<int>(records_.size());
    beginInsertRows({}, first, first + static_cast<int>(added.size()) - 1);
    for (journal::JobRecord& r : added) {
        ids_.insert(r.id);
        records_.push_back(std::move(r));
    }
    endInsertRows();
}

bool JournalModel::resetLocal() {
    fromServer_ = false;
    beginResetModel();
    records_.clear();
    ids_.clear();
    std::vector<journal::JobRecord> added;
    const bool ok = readLocal(kPageSize, added) == Read::Done;
    if (ok) {
        records_ = std::move(added);
        for (const journal::JobRecord& r : records_)
            ids_.insert(r.id);
    }
    endResetModel();
    return ok;
}

void JournalModel::forgetServer() {
    ++generation_;
    fromServer_ = loading_ = needsPassword_ = false;
    serverProblem_.clear();
}

void JournalModel::setServerProblem(const std::string& problem, bool needsPassword) {
    ++generation_;
    loading_ = false;
    serverProblem_ = problem;
    needsPassword_ = needsPassword;
    if (fromServer_)
        resetLocal();
    emit serverRead();
}

bool JournalModel::setFilter(const journal::RecordFilter& filter, bool askServer) {
    ++generation_;
    filter_ = filter;
    filter_.limit = 0;
    if (!serverSet() || !askServer) {
        loading_ = false;
        if (!serverSet()) {
            needsPassword_ = false;
            serverProblem_.clear();
        }
        return resetLocal();
    }
    // This PC's rows until the server's come; the server's of the last filter
    // stay instead (they are what the user is looking at).
    const bool ok = fromServer_ || resetLocal();
    readServer(kPageSize);
    return ok;
}

void JournalModel::readServer(std::size_t limit) {
    loading_ = true;
    const unsigned generation = generation_;
    const journal::RecordFilter filter = filter_;
    // A first page replaces whatever is shown; a further one adds to the server's rows.
    const bool first = limit == kPageSize;
    server_->queries()->run<WorkshopRecords>(
        "list", this, [filter, limit](ServerQueries::Link& link) { return workshopRecords(link, filter, limit); },
        [this, generation, limit, first](WorkshopRecords listed) {
            if (generation != generation_)
                return; // an answer to a filter no longer set
            loading_ = false;
            needsPassword_ = listed.needsPassword;
            if (!listed.records) {
                serverProblem_ = listed.problem;
                if (fromServer_)
                    resetLocal();
                emit serverRead();
                return;
            }
            serverProblem_.clear();
            std::vector<journal::JobRecord>& records = *listed.records;
            if (first || !fromServer_) {
                complete_ = records.size() < limit;
                fromServer_ = true;
                replaceRows(std::move(records));
            } else {
                std::vector<journal::JobRecord> added;
                const Read read = readUpTo(limit, added, [&](const Each& each) {
                    for (const journal::JobRecord& r : records)
                        each(r);
                    return true;
                });
                if (read == Read::Moved) {
                    complete_ = records.size() < limit;
                    replaceRows(std::move(records));
                } else {
                    appendRows(std::move(added));
                }
            }
            emit serverRead();
        });
}

bool JournalModel::canFetchMore(const QModelIndex& parent) const { return !parent.isValid() && !complete_; }

void JournalModel::fetchMore(const QModelIndex& parent) {
    if (parent.isValid() || complete_)
        return;
    // Each page as large as all read so far: the pages read again stay a
    // fixed share of the work, however far the view scrolls.
    const std::size_t limit = records_.size() + std::max(kPageSize, records_.size());
    if (fromServer_) {
        if (!loading_ && serverSet())
            readServer(limit);
        return;
    }
    std::vector<journal::JobRecord> added;
    switch (readLocal(limit, added)) {
    case Read::Failed:
        emit readFailed();
        return;
    case Read::Moved:
        resetLocal();
        return;
    case Read::Done:
        break;
    }
    appendRows(std::move(added));
}

const journal::JobRecord* JournalModel::record(int row) const {
    if (row < 0 || row >= static_cast<int>(records_.size()))
        return nullptr;
    return &records_[static_cast<std::size_t>(row)];
}

std::size_t JournalModel::refusedRows() const {
    return static_cast<std::size_t>(std::count_if(records_.begin(), records_.end(),
                                                  [](const journal::JobRecord& r) { return !r.refused.empty(); }));
}

int JournalModel::rowOf(const std::string& id) const {
    const auto at = std::find_if(records_.begin(), records_.end(), [&](const journal::JobRecord& r) { return r.id == id; });
    return at == records_.end() ? -1 : static_cast<int>(at - records_.begin());
}

int JournalModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(records_.size());
}

int JournalModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant JournalModel::data(const QModelIndex& index, int role) const {
    const journal::JobRecord* r = record(index.row());
    if (!r || index.column() < 0 || index.column() >= ColumnCount)
        return {};
    if (role == Qt::ForegroundRole && index.column() == Outcome && r->outcome != journal::JobOutcome::Done)
        return QBrush(kTroubleColour);
    // This PC's record the server refused: not among the workshop's there.
    if (index.column() == Pc && !r->refused.empty()) {
        if (role == Qt::ForegroundRole)
            return QBrush(kTroubleColour);
        if (role == Qt::ToolTipRole)
            return refusedText(r->refused);
    }
    if (role != Qt::DisplayRole)
        return {};
    switch (static_cast<Column>(index.column())) {
    case Time: return timeText(r->started);
    case Serial: return r->serial ? serialText(*r->serial) : QString();
    case Type: return text(deviceTypeName(r->deviceType));
    case Kind: return kindText(r->kind);
    case Outcome: return outcomeText(r->outcome);
    case Firmware: return firmwareText(*r);
    case Pc: return r->refused.empty() ? text(r->pc) : text(r->pc) + kRefusedMark;
    case User: return text(r->user);
    case ColumnCount: break;
    }
    return {};
}

QVariant JournalModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (static_cast<Column>(section)) {
    case Time: return QString("Время");
    case Serial: return QString("Серийный номер");
    case Type: return QString("Тип");
    case Kind: return QString("Работа");
    case Outcome: return QString("Результат");
    case Firmware: return QString("Прошивка");
    case Pc: return QString("Компьютер");
    case User: return QString("Пользователь");
    case ColumnCount: break;
    }
    return {};
}
