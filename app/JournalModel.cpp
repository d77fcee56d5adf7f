#include "JournalModel.h"

#include "DeviceInfo.h"
#include "JournalTexts.h"

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

JournalModel::Read JournalModel::readUpTo(std::size_t limit, std::vector<journal::JobRecord>& added) {
    journal::RecordFilter f = filter_;
    f.limit = limit;
    // New records come in at the top (they started later than any read so
    // far); what follows the last record read is what this page adds.
    const std::string last = records_.empty() ? std::string() : records_.back().id;
    bool past = last.empty();
    std::size_t seen = 0;
    const bool ok = store_.forEach(f, [&](const journal::JobRecord& r) {
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

bool JournalModel::setFilter(const journal::RecordFilter& filter) {
    beginResetModel();
    filter_ = filter;
    filter_.limit = 0;
    records_.clear();
    ids_.clear();
    std::vector<journal::JobRecord> added;
    const bool ok = readUpTo(kPageSize, added) == Read::Done;
    if (ok) {
        records_ = std::move(added);
        for (const journal::JobRecord& r : records_)
            ids_.insert(r.id);
    }
    endResetModel();
    return ok;
}

bool JournalModel::canFetchMore(const QModelIndex& parent) const { return !parent.isValid() && !complete_; }

void JournalModel::fetchMore(const QModelIndex& parent) {
    if (parent.isValid() || complete_)
        return;
    // Each page as large as all read so far: the pages read again stay a
    // fixed share of the work, however far the view scrolls.
    std::vector<journal::JobRecord> added;
    switch (readUpTo(records_.size() + std::max(kPageSize, records_.size()), added)) {
    case Read::Failed:
        emit readFailed();
        return;
    case Read::Moved:
        setFilter(filter_);
        return;
    case Read::Done:
        break;
    }
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

const journal::JobRecord* JournalModel::record(int row) const {
    if (row < 0 || row >= static_cast<int>(records_.size()))
        return nullptr;
    return &records_[static_cast<std::size_t>(row)];
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
    if (role != Qt::DisplayRole)
        return {};
    switch (static_cast<Column>(index.column())) {
    case Time: return timeText(r->started);
    case Serial: return r->serial ? serialText(*r->serial) : QString();
    case Type: return text(deviceTypeName(r->deviceType));
    case Kind: return kindText(r->kind);
    case Outcome: return outcomeText(r->outcome);
    case Firmware: return firmwareText(*r);
    case Pc: return text(r->pc);
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
