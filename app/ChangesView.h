#pragma once
// The list of what a write changes: one row per setting that differs, with its
// group, display name, key, old and new value (enum values with their item
// texts), and the count. From the editor's menu it compares against the last
// load and only shows; before Send it is the last confirmation, against what
// the controller holds, with a checkbox per row: an unchecked row is not written.
#include "JobHost.h"
#include "SettingsDiff.h"

#include <QDialog>

class QLabel;
class QPushButton;
class QTableWidget;

class ChangesView : public QDialog {
    Q_OBJECT
public:
    // Only shows: against the last load.
    ChangesView(const ParameterList& model, const std::vector<SettingChange>& changes, QWidget* parent);
    // The last confirmation of a write; Записать copies the checkboxes into list.
    ChangesView(const ParameterList& model, jobs::ChangeList& list, QWidget* parent);

    QTableWidget* Table;
    QLabel* CountLabel;
    QPushButton* WriteButton = nullptr;  // the choosing list only

    static QString countText(size_t count);
    // "Изменений: 5, записать: 3 из 5".
    static QString chosenText(size_t written, size_t count);

private:
    void build(const ParameterList& model, const std::vector<SettingChange>& changes, bool checkable,
               const std::vector<ChangeChoice>* rows, const QString& note);
    // Columns as wide as their texts within the screen (the widest wrap when
    // they do not all fit), and the window as large as the list, within it too.
    void fitToScreen();
    void recount();
    size_t checkedRows() const;

    jobs::ChangeList* list_ = nullptr;
    bool checkable_ = false;
};
