#pragma once
// Lets a tree refuse a change of its selected node before it happens, for mouse
// and keyboard alike, and gives it the single-expand behaviour: the newly
// selected node opens, the one that loses the selection closes.
#include <functional>

class QModelIndex;
class QTreeView;

// allow(index) runs before the node at index (of the view's model) becomes
// current; false keeps the old node. Install after the view has its model.
void installTreeGuard(QTreeView* tree, std::function<bool(const QModelIndex&)> allow);
