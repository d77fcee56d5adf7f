#pragma once
// Lets a tree refuse a change of its selected node before it happens, for mouse
// and keyboard alike, and gives it the single-expand behaviour: the newly
// selected node opens, the one that loses the selection closes.
#include <functional>

class QTreeWidget;
class QTreeWidgetItem;

// allow(node) runs before node becomes current; false keeps the old node.
void installTreeGuard(QTreeWidget* tree, std::function<bool(QTreeWidgetItem*)> allow);
