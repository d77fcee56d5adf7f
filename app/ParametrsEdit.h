#pragma once
// The parameter editor window: the settings of the shared ParameterList as a tree
// of groups and parameters, one value edited at a time with a check per type,
// the SMS command of the selected parameter, and Save, Send and Leave. It edits
// the model in place; the main window owns the model and the device object.
#include "EditSession.h"
#include "Runner.h"
#include "ParameterList.h"
#include "SettingsDiff.h"
#include "WindowHost.h"

#include <QDialog>
#include <QModelIndex>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class Dialogs;
class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QSplitter;
class QTreeView;
class QWidget;
class ParameterFilter;
class ParameterModel;

class TParametersEditForm : public QDialog {
    Q_OBJECT
public:
    // currentDevice: the main window's device slot, read at each Send.
    // runner: the main window's, whose controller Send writes to (borrowed; null: none).
    TParametersEditForm(Dialogs& dialogs, jobs::Runner* runner, QWidget* parent = nullptr);
    ~TParametersEditForm() override;

    ParameterList* Params = nullptr; // set by the main window before each showing
    bool Modified = false;
    const EnumValueList* CurrentEnum = nullptr;
    // The parameter being edited; none while a group (or nothing) is selected.
    Parameter* currentParameter() const { return session_.current(); }

    // Widgets, named as in the window layout. The tree shows Filter over Model.
    QTreeView* Tree;
    ParameterModel* Model;
    ParameterFilter* Filter;
    QSplitter* Splitter1;
    QWidget* Panel1;
    QGroupBox* GroupBox1;
    QGroupBox* GroupBox2;
    QGroupBox* GroupBox3;
    QLineEdit* ValueEdit;
    QComboBox* EnumValue;
    QLabel* SmsLabel;
    QLabel* DescriptionLabel;
    QAction* SaveAction;
    QAction* SendAction;
    QAction* CloseAction;
    QAction* ChangesAction;  // "Изменения": what a write would change
    QAction* SheetAction;    // the settings as a printable HTML page
    QLineEdit* FilterEdit;   // narrows the tree to matching parameters
    QCheckBox* OnlyChanged;  // shows only parameters changed since the last load

    // Where the editor's log lines go (the main window's log); may be empty.
    std::function<void(const QString&)> log;
    // Where the loaded settings came from: Send keeps the owner's values of
    // the controller when they came from a file that is not its own backup.
    struct LoadSource {
        bool fromFile = false;
        std::optional<std::uint32_t> fileSerial; // of a backup file's name
    };
    // The settings text as last loaded (Read or Open file): what the menu's
    // change list and the marks compare against.
    void setLoadedText(const std::string& text, LoadSource source);
    void setLoadedText(const std::string& text); // from the controller
    // The tree's node (of the view's model) of a group, or of a group's parameter.
    QModelIndex node(int group, int child = -1) const;
    // The tree's node of a parameter; invalid when the filter hides it.
    QModelIndex nodeOfKey(const std::string& key) const;
    std::vector<SettingChange> pendingChanges() const;
    // Bold: differs from its default; marked: changed since the last load; a
    // group shows how many of its parameters differ from their defaults.
    void refreshMarks();
    void applyFilter();
    void ChangesActionExecute();
    void SheetActionExecute();

    void FormShow();
    // A node (of the view's model) is about to be selected; false refuses
    // (the old node stays).
    bool TreeChanging(const QModelIndex& node);
    void ValueEditChange();
    void ValueEditExit();
    void EnumValueChange(int index);
    void SaveActionExecute();
    void SendActionExecute();
    void CloseActionExecute();
    // true: the window may close.
    bool FormCloseQuery();
    // Send's job has not ended yet.
    bool busy() const { return runner_ && runner_->running(send_); }

    void SetModified(bool flag);
    QString SmsCommandText() const;
    // The typed value into the model when it passes; false (told once) when refused.
    bool CommitEdit();
    // The edit box's text in the model's encoding.
    std::string editText() const;

protected:
    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void reject() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Dialogs& dialogs_;
    jobs::Runner* runner_;
    std::unique_ptr<WindowHost> host_; // Send's job talks to the user through it
    jobs::Runner::RunId send_ = 0;
    void showParameter(Parameter* p);
    void refuse(const EditSession::Verdict& verdict);
    void selectFirstMatch();

    bool filling_ = false; // the program, not the user, is changing a widget
    EditSession session_;
    bool keepRefusedSelected_ = false; // a refused text stays selected until the user returns to it
    std::string loadedText_;
    LoadSource source_;
};
