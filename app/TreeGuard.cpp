#include "TreeGuard.h"

#include <QItemSelectionModel>
#include <QTimer>
#include <QTreeWidget>

namespace {

// Both paths that move the selection (setCurrentIndex for the keyboard and the
// mouse press, select for the mouse's selection rectangle) ask first. One user
// action may call both with the same target: it is asked about once.
class GuardedSelectionModel : public QItemSelectionModel {
public:
    GuardedSelectionModel(QTreeWidget* tree, std::function<bool(QTreeWidgetItem*)> allow)
        : QItemSelectionModel(tree->model(), tree), tree_(tree), allow_(std::move(allow)) {}

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
        const bool ok = allow_(tree_->itemFromIndex(index));
        (ok ? approved_ : refused_) = QPersistentModelIndex(index);
        // The answer holds for the rest of this user action only.
        QTimer::singleShot(0, this, [this] {
            approved_ = QPersistentModelIndex();
            refused_ = QPersistentModelIndex();
        });
        return ok;
    }

    QTreeWidget* tree_;
    std::function<bool(QTreeWidgetItem*)> allow_;
    QPersistentModelIndex approved_, refused_;
};

} // namespace

void installTreeGuard(QTreeWidget* tree, std::function<bool(QTreeWidgetItem*)> allow) {
    auto* model = new GuardedSelectionModel(tree, std::move(allow));
    tree->setSelectionModel(model);
    QObject::connect(model, &QItemSelectionModel::currentChanged, tree,
                     [tree](const QModelIndex& current, const QModelIndex& previous) {
                         QTreeWidgetItem* now = tree->itemFromIndex(current);
                         QTreeWidgetItem* before = tree->itemFromIndex(previous);
                         if (now)
                             now->setExpanded(true);
                         if (before && before != now && now && now->parent() != before)
                             before->setExpanded(false);
                     });
}
