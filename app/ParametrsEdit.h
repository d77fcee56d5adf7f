#pragma once
// The parameter editor window: the settings of the shared ParameterList as a tree
// of groups and parameters, one value edited at a time with a check per type,
// the SMS command of the selected parameter, and Save, Send and Leave. It edits
// the model in place; the main window owns the model and the device object.
#include "JobDriver.h"
#include "ParameterList.h"
#include "SettingsDiff.h"
#include "WindowHost.h"

#include <QDialog>
#include <functional>
#include <memory>

class Dialogs;
class DeviceInterface;
class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QSplitter;
class QTreeWidget;
class QTreeWidgetItem;
class QWidget;

class TParametersEditForm : public QDialog {
    Q_OBJECT
public:
    // currentDevice: the main window's device slot, read at each Send.
    TParametersEditForm(Dialogs& dialogs, std::shared_ptr<DeviceInterface>* currentDevice, QWidget* parent = nullptr);

    ParameterList* Params = nullptr; // set by the main window before each showing
    bool Modified = false;
    Parameter* CurrentParameter = nullptr;
    const EnumValueList* CurrentEnum = nullptr;

    // Widgets, named as in the window layout.
    QTreeWidget* Tree;
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
    // The settings text as last loaded (Read or Open file): what the change
    // list and the marks compare against.
    void setLoadedText(const std::string& text);
    std::vector<SettingChange> pendingChanges() const;
    // Bold: differs from its default; marked: changed since the last load; a
    // group shows how many of its parameters differ from their defaults.
    void refreshMarks();
    void applyFilter();
    void ChangesActionExecute();
    void SheetActionExecute();

    void FormShow();
    // A node is about to be selected; false refuses (the old node stays).
    bool TreeChanging(QTreeWidgetItem* node);
    void ValueEditChange();
    void ValueEditExit();
    void EnumValueChange(int index);
    void SaveActionExecute();
    void SendActionExecute();
    void CloseActionExecute();
    // true: the window may close.
    bool FormCloseQuery();
    // Send's job has not ended yet.
    bool busy() const { return send_->running(); }

    void SetModified(bool flag);
    QString SmsCommandText() const;
    bool CheckValue(const Parameter& parameter);
    void CommitEdit();
    // The edit box's text in the model's encoding.
    std::string editText() const;

protected:
    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void reject() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Dialogs& dialogs_;
    std::shared_ptr<DeviceInterface>* currentDevice_;
    std::unique_ptr<WindowHost> host_; // Send's job talks to the user through it
    JobDriver* send_;
    bool filling_ = false; // the program, not the user, is changing a widget
    // The text whose refusal was shown during the current user action.
    const Parameter* refusedParameter_ = nullptr;
    QString refusedText_;
    bool keepRefusedSelected_ = false; // a refused text stays selected until the user returns to it
    std::string loadedText_;
};
