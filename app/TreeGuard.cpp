#include "TreeGuard.h"

#include <QItemSelectionModel>
#include <QTimer>
#include <QTreeView>

namespace {

// Both paths that move the selection (setCurrentIndex for the keyboard and the
// mouse press, select for the mouse's selection rectangle) ask first. One user
// action may call both with the same target: it is asked about once.
class GuardedSelectionModel : public QItemSelectionModel {
public:
    GuardedSelectionModel(QTreeView* tree, std::function<bool(const QModelIndex&)> allow)
        : QItemSelectionModel(tree->model(), tree), allow_(std::move(allow)) {}

    void setCurrentIndex(const QModelIndex& index, QItemSelectionModel::SelectionFlags command) override {
        if (!permitted(index))
            return;
        QItemSelectionModel::setCurrentIndex(index, command);
    }

    void select(const QModelIndex& index, QItemSelectionModel::SelectionFlags command) override {
        if (!permitted(index))
            return;
        QItemSelectionModel::select(index, command);
    }

    void select(const QItemSelection& selection, QItemSelectionModel::SelectionFlags command) override {
        const QModelIndexList indexes = selection.indexes();
        if (!indexes.isEmpty() && !permitted(indexes.first()))
            return;
        QItemSelectionModel::select(selection, command);
    }

private:
    bool permitted(const QModelIndex& index) {
        if (!index.isValid() || index == currentIndex() || index == approved_)
            return true;
        if (index == refused_)
            return false;
        const bool ok = allow_(index);
        (ok ? approved_ : refused_) = QPersistentModelIndex(index);
        // The answer holds for the rest of this user action only.
        QTimer::singleShot(0, this, [this] {
            approved_ = QPersistentModelIndex();
            refused_ = QPersistentModelIndex();
        });
        return ok;
    }

    std::function<bool(const QModelIndex&)> allow_;
    QPersistentModelIndex approved_, refused_;
};

} // namespace

void installTreeGuard(QTreeView* tree, std::function<bool(const QModelIndex&)> allow) {
    auto* model = new GuardedSelectionModel(tree, std::move(allow));
    tree->setSelectionModel(model);
    // The selected node opens; the one left closes, unless it holds the new one.
    QObject::connect(model, &QItemSelectionModel::currentChanged, tree,
                     [tree](const QModelIndex& current, const QModelIndex& previous) {
                         if (current.isValid())
                             tree->setExpanded(current, true);
                         if (previous.isValid() && previous != current && current.isValid() && current.parent() != previous)
                             tree->setExpanded(previous, false);
                     });
}
