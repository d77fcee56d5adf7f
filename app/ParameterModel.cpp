#include "ParameterModel.h"

#include "Cp1251.h"

#include <algorithm>

namespace {
QString ui(const std::string& cp1251Text) { return QString::fromStdString(cp1251::toUtf8(cp1251Text)); }
constexpr quintptr kGroupId = 0; // a parameter's id is its group's row + 1
} // namespace

ParameterModel::ParameterModel(QObject* parent) : QAbstractItemModel(parent) {}

void ParameterModel::setList(ParameterList* list) {
    beginResetModel();
    list_ = list;
    groups_.clear();
    changed_.clear();
    place_.clear();
    if (list_) {
        const auto& parameters = list_->parameters();
        changed_.assign(parameters.size(), false);
        place_.assign(parameters.size(), {-1, -1});
        for (const ParameterGroup& g : list_->groups()) {
            Group group{ui(g.name), {}};
            for (size_t i = 0; i < parameters.size(); ++i)
                if (parameters[i].group == g.name) {
                    place_[i] = {static_cast<int>(groups_.size()), static_cast<int>(group.parameters.size())};
                    group.parameters.push_back(i);
                }
            groups_.push_back(std::move(group));
        }
    }
    endResetModel();
}

void ParameterModel::setChanged(const std::vector<std::string>& keys) {
    if (!list_)
        return;
    for (size_t i = 0; i < changed_.size(); ++i)
        changed_[i] = std::find(keys.begin(), keys.end(), list_->parameters()[i].key) != keys.end();
    // Values may have changed as well: every mark is read again.
    for (int g = 0; g < static_cast<int>(groups_.size()); ++g) {
        const QModelIndex group = index(g, 0);
        emit dataChanged(group, group);
        if (const int rows = rowCount(group); rows > 0)
            emit dataChanged(index(0, 0, group), index(rows - 1, 0, group));
    }
}

Parameter* ParameterModel::parameter(const QModelIndex& index) const {
    if (!list_ || !index.isValid() || index.model() != this || index.internalId() == kGroupId)
        return nullptr;
    const Group& g = groups_[index.internalId() - 1];
    return &list_->parameter(g.parameters[static_cast<size_t>(index.row())]);
}

QModelIndex ParameterModel::indexOf(const Parameter* p) const {
    if (!list_ || !p)
        return {};
    const auto& parameters = list_->parameters();
    if (p < parameters.data() || p >= parameters.data() + parameters.size())
        return {};
    const auto [group, row] = place_[static_cast<size_t>(p - parameters.data())];
    return group < 0 ? QModelIndex() : createIndex(row, 0, static_cast<quintptr>(group) + 1);
}

QModelIndex ParameterModel::index(int row, int column, const QModelIndex& parent) const {
    if (column != 0 || row < 0)
        return {};
    if (!parent.isValid())
        return row < static_cast<int>(groups_.size()) ? createIndex(row, 0, kGroupId) : QModelIndex();
    if (parent.internalId() != kGroupId || parent.row() >= static_cast<int>(groups_.size()))
        return {};
    const Group& g = groups_[static_cast<size_t>(parent.row())];
    return row < static_cast<int>(g.parameters.size()) ? createIndex(row, 0, static_cast<quintptr>(parent.row()) + 1)
                                                       : QModelIndex();
}

QModelIndex ParameterModel::parent(const QModelIndex& child) const {
    if (!child.isValid() || child.internalId() == kGroupId)
        return {};
    return createIndex(static_cast<int>(child.internalId() - 1), 0, kGroupId);
}

int ParameterModel::rowCount(const QModelIndex& parent) const {
    if (!parent.isValid())
        return static_cast<int>(groups_.size());
    if (parent.internalId() != kGroupId)
        return 0;
    return static_cast<int>(groups_[static_cast<size_t>(parent.row())].parameters.size());
}

int ParameterModel::columnCount(const QModelIndex&) const { return 1; }

QVariant ParameterModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || !list_)
        return {};
    if (index.internalId() == kGroupId) {
        const Group& g = groups_[static_cast<size_t>(index.row())];
        if (role == Qt::DisplayRole)
            return g.name;
        if (role == CountRole)
            return static_cast<int>(std::count_if(g.parameters.begin(), g.parameters.end(),
                                                  [this](size_t i) { return !list_->parameters()[i].IsDefault(); }));
        return {};
    }
    const Parameter* p = parameter(index);
    const size_t i = static_cast<size_t>(p - list_->parameters().data());
    switch (role) {
    case Qt::DisplayRole: return ui(p->name);
    case DiffersRole: return !p->IsDefault();
    case ChangedRole: return static_cast<bool>(changed_[i]);
    case KeyRole: return ui(p->key);
    case DescriptionRole: return ui(p->description);
    default: return {};
    }
}

Qt::ItemFlags ParameterModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

ParameterFilter::ParameterFilter(QObject* parent) : QSortFilterProxyModel(parent) {}

void ParameterFilter::setFilter(const QString& text, bool onlyChanged, const QModelIndex& keep) {
    text_ = text.trimmed();
    onlyChanged_ = onlyChanged;
    keep_ = QPersistentModelIndex(keep);
    invalidateFilter();
}

bool ParameterFilter::accepts(const QModelIndex& p) const {
    if (p == keep_)
        return true;
    const bool matches = text_.isEmpty() || p.data(Qt::DisplayRole).toString().contains(text_, Qt::CaseInsensitive) ||
                         p.data(ParameterModel::KeyRole).toString().contains(text_, Qt::CaseInsensitive) ||
                         p.data(ParameterModel::DescriptionRole).toString().contains(text_, Qt::CaseInsensitive);
    return matches && (!onlyChanged_ || p.data(ParameterModel::ChangedRole).toBool());
}

bool ParameterFilter::filterAcceptsRow(int row, const QModelIndex& parent) const {
    const QModelIndex index = sourceModel()->index(row, 0, parent);
    if (parent.isValid())
        return accepts(index);
    if (!filtering() || index == keep_)
        return true;
    for (int i = 0, n = sourceModel()->rowCount(index); i < n; ++i)
        if (accepts(sourceModel()->index(i, 0, index)))
            return true;
    return false;
}
