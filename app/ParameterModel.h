#pragma once
// The settings as Qt's item models see them: groups with their parameters from
// the shared ParameterList, one column. A node's parameter is found through its
// index (never through the texts shown), and the marks come as data roles: off
// its default, changed since the last load, and per group how many are off
// their defaults. ParameterFilter narrows it to a text and to the changed.
#include "ParameterList.h"

#include <QAbstractItemModel>
#include <QPersistentModelIndex>
#include <QSortFilterProxyModel>
#include <string>
#include <vector>

class ParameterModel : public QAbstractItemModel {
    Q_OBJECT
public:
    enum Role {
        DiffersRole = Qt::UserRole + 1, // parameter: not at its default
        ChangedRole,                    // parameter: changed since the last load
        CountRole,                      // group: parameters not at their default
        KeyRole,
        DescriptionRole,
    };

    explicit ParameterModel(QObject* parent = nullptr);

    // Shows list (borrowed; may be null), from scratch.
    void setList(ParameterList* list);
    ParameterList* list() const { return list_; }
    // The keys changed since the last load; the other marks are read again too.
    void setChanged(const std::vector<std::string>& keys);

    Parameter* parameter(const QModelIndex& index) const;
    QModelIndex indexOf(const Parameter* parameter) const;
    bool isGroup(const QModelIndex& index) const { return index.isValid() && index.internalId() == 0; }

    QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    struct Group {
        QString name;
        std::vector<size_t> parameters; // indexes into the list's parameters
    };
    ParameterList* list_ = nullptr;
    std::vector<Group> groups_;
    std::vector<bool> changed_;  // by parameter index
    std::vector<std::pair<int, int>> place_; // by parameter index: group, row (-1: in no group)
};

// A parameter passes when its name, key or description holds the text (any
// case, Cyrillic too) and, with onlyChanged, it changed since the last load; a
// group passes when one of its parameters does. The kept node always passes:
// a refused value keeps the selection there.
class ParameterFilter : public QSortFilterProxyModel {
    Q_OBJECT
public:
    explicit ParameterFilter(QObject* parent = nullptr);

    void setFilter(const QString& text, bool onlyChanged, const QModelIndex& keep);
    bool filtering() const { return !text_.isEmpty() || onlyChanged_; }

protected:
    bool filterAcceptsRow(int row, const QModelIndex& parent) const override;

private:
    bool accepts(const QModelIndex& sourceParameter) const;

    QString text_;
    bool onlyChanged_ = false;
    QPersistentModelIndex keep_;
};
