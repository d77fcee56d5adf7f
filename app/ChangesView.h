#pragma once
// The list of what a write changes: one row per setting that differs, with its
// group, display name, key, old and new value (enum values with their item
// texts), and the count. Shown before the editor's question, and from its menu.
#include "SettingsDiff.h"

#include <QDialog>

class QLabel;
class QTableWidget;

class ChangesView : public QDialog {
    Q_OBJECT
public:
    ChangesView(const ParameterList& model, const std::vector<SettingChange>& changes, QWidget* parent);

    QTableWidget* Table;
    QLabel* CountLabel;

    static QString countText(size_t count);
};
