#include "ParametrsEdit.h"

#include "ChangesView.h"
#include "Cp1251.h"
#include "Dialogs.h"
#include "FileReplace.h"
#include "ParameterModel.h"
#include "SettingsFile.h"
#include "SettingsSheet.h"
#include "SettingsWriteJob.h"
#include "TreeGuard.h"
#include "ValueCheck.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDateTime>
#include <QHBoxLayout>
#include <QStyledItemDelegate>
#include <QComboBox>
#include <QFocusEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QShowEvent>
#include <QSplitter>
#include <QTimer>
#include <QKeyEvent>
#include <QTreeView>
#include <QValidator>
#include <QVBoxLayout>
#include <algorithm>

namespace {

QString ui(const std::string& cp1251Text) { return QString::fromStdString(cp1251::toUtf8(cp1251Text)); }

const char kCaption[] = "Редактор параметров";
constexpr int kClientWidth = 721;
constexpr int kClientHeight = 473;
constexpr int kTreeWidth = 297;
constexpr int kPanelMinimumWidth = 100;
const char kCaptionModified[] = "Редактор параметров. Настройки изменены!";

// Keeps characters that Windows-1251 cannot hold out of the edit box: the
// controller and the settings files could not store them.
class Cp1251Validator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override {
        std::string ignored;
        return cp1251::fromUtf8(input.toStdString(), ignored) ? Acceptable : Invalid;
    }
};

// The marks as the model gives them: bold off its default, a blue dot when
// changed since the last load, a group's count of parameters off their defaults.
class TreeMarks : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        if (index.data(ParameterModel::DiffersRole).toBool())
            option->font.setBold(true);
        if (index.data(ParameterModel::ChangedRole).toBool()) {
            option->text = "● " + option->text;
            option->palette.setColor(QPalette::Text, QColor(0, 70, 170));
        }
        if (const int count = index.data(ParameterModel::CountRole).toInt(); count > 0)
            option->text += " (" + QString::number(count) + ")";
    }
};

const char kSheetFilter[] = "страница HTML | *.html";

} // namespace

TParametersEditForm::TParametersEditForm(Dialogs& dialogs, jobs::Runner* runner, QWidget* parent)
    : QDialog(parent), dialogs_(dialogs), runner_(runner) {
    host_ = std::make_unique<WindowHost>(dialogs_, this, [this](const QString& line) {
        if (log)
            log(line);
    });
    // Send's last confirmation: the change list against the controller.
    host_->setChooser([this](jobs::ChangeList& list) {
        if (!Params)
            return false;
        ChangesView view(*Params, list, this);
        dialogs_.showModal(&view);
        return view.result() == QDialog::Accepted;
    });
    setObjectName("ParametersEditForm");
    setWindowTitle(kCaption);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* menu = new QMenuBar(this);
    SaveAction = menu->addAction("Записать в файл");
    SendAction = menu->addAction("Записать в устройство");
    // The two additions share one entry: five top-level entries do not fit the
    // window's width in every font.
    QMenu* service = menu->addMenu("Сервис");
    service->setObjectName("ServiceMenu");
    ChangesAction = service->addAction("Изменения");
    SheetAction = service->addAction("Лист настроек…");
    CloseAction = menu->addAction("Выйти");
    SaveAction->setObjectName("Save");
    SendAction->setObjectName("Send");
    ChangesAction->setObjectName("Changes");
    SheetAction->setObjectName("Sheet");
    CloseAction->setObjectName("Exit");
    layout->setMenuBar(menu);
    // The client area below the menu bar is 721 x 473.
    resize(kClientWidth, kClientHeight + menu->sizeHint().height());

    Splitter1 = new QSplitter(Qt::Horizontal, this);
    Splitter1->setObjectName("Splitter1");
    Splitter1->setHandleWidth(8);
    Splitter1->setChildrenCollapsible(false);
    layout->addWidget(Splitter1);

    // The tree and, above it, the filter: one pane of the splitter.
    auto* treePane = new QWidget(Splitter1);
    treePane->setObjectName("TreePane");
    auto* treeLayout = new QVBoxLayout(treePane);
    treeLayout->setContentsMargins(0, 0, 0, 0);
    treeLayout->setSpacing(2);
    auto* filterRow = new QHBoxLayout;
    filterRow->setContentsMargins(2, 2, 2, 0);
    FilterEdit = new QLineEdit(treePane);
    FilterEdit->setObjectName("FilterEdit");
    FilterEdit->setPlaceholderText("Найти: название, ключ, описание");
    FilterEdit->setClearButtonEnabled(true);
    OnlyChanged = new QCheckBox("Изменённые", treePane);
    OnlyChanged->setObjectName("OnlyChanged");
    OnlyChanged->setToolTip("Только параметры, изменённые после загрузки");
    filterRow->addWidget(FilterEdit, 1);
    filterRow->addWidget(OnlyChanged);
    treeLayout->addLayout(filterRow);
    Model = new ParameterModel(this);
    Filter = new ParameterFilter(this);
    Filter->setSourceModel(Model);
    // Filtered when the filter is set, not on every value: an edited parameter
    // stays where it is until the filter changes.
    Filter->setDynamicSortFilter(false);
    Tree = new QTreeView(treePane);
    Tree->setModel(Filter);
    treeLayout->addWidget(Tree, 1);
    Tree->setObjectName("Tree");
    Tree->setHeaderHidden(true);
    Tree->setUniformRowHeights(true);
    Tree->setFrameShape(QFrame::NoFrame);
    Tree->setIndentation(19);
    Tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Tree->setMouseTracking(true); // hot-tracking of the node under the mouse
    QPalette treePalette = Tree->palette();
    treePalette.setColor(QPalette::Inactive, QPalette::Highlight, treePalette.color(QPalette::Active, QPalette::Highlight));
    treePalette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                         treePalette.color(QPalette::Active, QPalette::HighlightedText));
    Tree->setPalette(treePalette);
    Tree->setItemDelegate(new TreeMarks(Tree));
    installTreeGuard(Tree, [this](const QModelIndex& node) { return TreeChanging(node); });
    FilterEdit->installEventFilter(this);

    // Panel1 sits in a holder that keeps its place in the splitter: hiding the
    // panel for a group node must not hand its width to the tree.
    auto* holder = new QWidget(Splitter1);
    holder->setObjectName("Panel1Holder");
    // Its own minimum, so a wider font's size hints cannot take the tree's 297.
    holder->setMinimumWidth(kPanelMinimumWidth);
    auto* holding = new QVBoxLayout(holder);
    holding->setContentsMargins(0, 0, 0, 0);
    Panel1 = new QWidget(holder);
    Panel1->setObjectName("Panel1");
    holding->addWidget(Panel1);
    auto* panel = new QVBoxLayout(Panel1);
    panel->setContentsMargins(0, 0, 0, 0);
    panel->setSpacing(0);

    GroupBox1 = new QGroupBox(Panel1);
    GroupBox1->setObjectName("GroupBox1");
    GroupBox1->setFixedHeight(100);
    ValueEdit = new QLineEdit(GroupBox1);
    ValueEdit->setObjectName("ValueEdit");
    ValueEdit->setGeometry(15, 45, 184, 21);
    ValueEdit->setValidator(new Cp1251Validator(ValueEdit));
    QPalette editPalette = ValueEdit->palette(); // the selection stays visible without the focus
    editPalette.setColor(QPalette::Inactive, QPalette::Highlight, editPalette.color(QPalette::Active, QPalette::Highlight));
    editPalette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                         editPalette.color(QPalette::Active, QPalette::HighlightedText));
    ValueEdit->setPalette(editPalette);
    ValueEdit->installEventFilter(this);
    EnumValue = new QComboBox(GroupBox1);
    EnumValue->setObjectName("EnumValue");
    EnumValue->setGeometry(15, 45, 320, 21);
    EnumValue->setEditable(false);
    EnumValue->hide();
    panel->addWidget(GroupBox1);

    GroupBox3 = new QGroupBox("Формат SMS команды для изменения параметра", Panel1);
    GroupBox3->setObjectName("GroupBox3");
    GroupBox3->setFixedHeight(100);
    SmsLabel = new QLabel(GroupBox3);
    SmsLabel->setObjectName("SmsLabel");
    SmsLabel->move(15, 43);
    QFont smsFont("Verdana", 10);
    smsFont.setBold(true);
    SmsLabel->setFont(smsFont);
    SmsLabel->setTextFormat(Qt::PlainText);
    panel->addWidget(GroupBox3);

    GroupBox2 = new QGroupBox("Описание параметра", Panel1);
    GroupBox2->setObjectName("GroupBox2");
    auto* description = new QVBoxLayout(GroupBox2);
    description->setContentsMargins(8, 10, 8, 8);
    DescriptionLabel = new QLabel(GroupBox2);
    DescriptionLabel->setObjectName("DescriptionLabel");
    DescriptionLabel->setWordWrap(true);
    DescriptionLabel->setTextFormat(Qt::PlainText);
    DescriptionLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    DescriptionLabel->setFont(QFont("Verdana", 8));
    description->addWidget(DescriptionLabel);
    panel->addWidget(GroupBox2, 1);

    Splitter1->setSizes({kTreeWidth, kClientWidth - kTreeWidth - 8});
    Splitter1->setStretchFactor(1, 1);

    connect(ValueEdit, &QLineEdit::selectionChanged, this, [this] {
        if (keepRefusedSelected_ && !ValueEdit->hasFocus() && ValueEdit->selectedText() != ValueEdit->text())
            QTimer::singleShot(0, ValueEdit, [this] {
                if (keepRefusedSelected_)
                    ValueEdit->selectAll();
            });
    });
    connect(ValueEdit, &QLineEdit::textChanged, this, [this] {
        if (!filling_)
            session_.type(editText());
        ValueEditChange();
    });
    connect(EnumValue, QOverload<int>::of(&QComboBox::activated), this, [this](int i) { EnumValueChange(i); });
    connect(SaveAction, &QAction::triggered, this, [this] { runHandler(dialogs_, this, [this] { SaveActionExecute(); }); });
    connect(SendAction, &QAction::triggered, this, [this] { runHandler(dialogs_, this, [this] { SendActionExecute(); }); });
    connect(CloseAction, &QAction::triggered, this, [this] { runHandler(dialogs_, this, [this] { CloseActionExecute(); }); });
    connect(ChangesAction, &QAction::triggered, this, [this] { runHandler(dialogs_, this, [this] { ChangesActionExecute(); }); });
    connect(SheetAction, &QAction::triggered, this, [this] { runHandler(dialogs_, this, [this] { SheetActionExecute(); }); });
    connect(FilterEdit, &QLineEdit::textChanged, this, [this] { applyFilter(); });
    connect(OnlyChanged, &QCheckBox::toggled, this, [this] { applyFilter(); });
}

void TParametersEditForm::showEvent(QShowEvent* e) {
    // Centred on the main window on every showing, by client areas: the frame
    // is not known yet on the first showing, and centring the frames then put
    // the window a title bar's height higher than later.
    if (!e->spontaneous() && parentWidget()) {
        const QRect owner = parentWidget()->geometry();
        setGeometry(QRect(owner.center() - QPoint(width() / 2, height() / 2), size()));
    }
    QDialog::showEvent(e);
    if (!e->spontaneous())
        runHandler(dialogs_, this, [this] { FormShow(); });
}

void TParametersEditForm::FormShow() {
    CurrentEnum = nullptr;
    session_.begin(nullptr);
    SetModified(false);
    filling_ = true;
    Model->setList(Params);
    filling_ = false;
    Panel1->hide();
    refreshMarks();
    applyFilter();
}

void TParametersEditForm::setLoadedText(const std::string& text) { setLoadedText(text, LoadSource()); }

void TParametersEditForm::setLoadedText(const std::string& text, LoadSource source) {
    loadedText_ = text;
    source_ = source;
}

QModelIndex TParametersEditForm::node(int group, int child) const {
    const QModelIndex g = Filter->index(group, 0);
    return child < 0 ? g : Filter->index(child, 0, g);
}

QModelIndex TParametersEditForm::nodeOfKey(const std::string& key) const {
    if (!Params)
        return {};
    const int i = Params->IndexOfKey(key);
    if (i < 0)
        return {};
    return Filter->mapFromSource(Model->indexOf(&Params->parameters()[static_cast<size_t>(i)]));
}

std::vector<SettingChange> TParametersEditForm::pendingChanges() const {
    if (!Params)
        return {};
    return diffSettings(*Params, loadedText_, Params->SettingsText());
}

void TParametersEditForm::refreshMarks() {
    if (!Params)
        return;
    std::vector<std::string> changed;
    for (const SettingChange& c : pendingChanges())
        changed.push_back(c.key);
    Model->setChanged(changed);
}

// The selected node always stays: a refused value keeps the selection there.
void TParametersEditForm::applyFilter() {
    if (!Params)
        return;
    const QModelIndex current = Filter->mapToSource(Tree->currentIndex());
    Filter->setFilter(FilterEdit->text(), OnlyChanged->isChecked(), current);
    if (Filter->filtering())
        for (int g = 0; g < Filter->rowCount(); ++g)
            if (Filter->rowCount(Filter->index(g, 0)) > 0)
                Tree->expand(Filter->index(g, 0));
}

// Down or Enter in the filter goes to the first parameter shown.
void TParametersEditForm::selectFirstMatch() {
    for (int g = 0; g < Filter->rowCount(); ++g) {
        const QModelIndex group = Filter->index(g, 0);
        if (Filter->rowCount(group) == 0)
            continue;
        Tree->setFocus(Qt::TabFocusReason);
        Tree->setCurrentIndex(Filter->index(0, 0, group));
        return;
    }
}

void TParametersEditForm::ChangesActionExecute() {
    CommitEdit();
    if (!Params)
        return;
    ChangesView view(*Params, pendingChanges(), this);
    dialogs_.showModal(&view);
}

void TParametersEditForm::SheetActionExecute() {
    CommitEdit();
    if (!Params)
        return;
    const QString file = dialogs_.saveFile(this, kSheetFilter, "html");
    if (file.isEmpty())
        return;
    const QString when = QDateTime::currentDateTime().toString("yyyy-MM-dd HH:mm");
    // The serial is known only for settings opened from a controller's backup.
    const QString header =
        source_.fileSerial ? QString("Серийный номер %1, %2").arg(*source_.fileSerial).arg(when) : when;
    replaceFileContent(file.toStdString(),
                       settingsSheetHtml(*Params, ("Лист настроек от " + when).toStdString(), header.toStdString()));
}

std::string TParametersEditForm::editText() const {
    return cp1251::fromUtf8(ValueEdit->text().toStdString());
}

bool TParametersEditForm::TreeChanging(const QModelIndex& node) {
    if (filling_)
        return true;
    if (session_.current() && !CommitEdit())
        return false;
    showParameter(Model->parameter(Filter->mapToSource(node)));
    return true;
}

void TParametersEditForm::showParameter(Parameter* found) {
    keepRefusedSelected_ = false;
    session_.begin(found);
    if (!found) {
        Panel1->hide();
        return;
    }
    filling_ = true;
    Panel1->show();
    EnumValue->clear();
    DescriptionLabel->setText(ui(found->description));
    ValueEdit->setText(ui(found->value));
    GroupBox1->setTitle(ui(found->name));
    SmsLabel->setText(SmsCommandText());
    SmsLabel->adjustSize();
    if (found->type == ParameterType::Enum) {
        CurrentEnum = Params->FindEnum(found->enumName);
        int selected = -1;
        if (CurrentEnum)
            for (const auto& item : CurrentEnum->items) {
                EnumValue->addItem(ui(item.text));
                if (found->value == std::to_string(item.value))
                    selected = EnumValue->count() - 1;
            }
        EnumValue->setCurrentIndex(selected);
        ValueEdit->hide();
        EnumValue->show();
    } else {
        CurrentEnum = nullptr;
        ValueEdit->show();
        EnumValue->hide();
    }
    filling_ = false;
}

void TParametersEditForm::ValueEditChange() {
    SmsLabel->setText(SmsCommandText());
    SmsLabel->adjustSize();
}

void TParametersEditForm::ValueEditExit() { CommitEdit(); }

void TParametersEditForm::EnumValueChange(int index) {
    if (!session_.current() || !CurrentEnum || index < 0 || static_cast<size_t>(index) >= CurrentEnum->items.size())
        return;
    ValueEdit->setText(ui(std::to_string(CurrentEnum->items[static_cast<size_t>(index)].value)));
    CommitEdit();
}

bool TParametersEditForm::CommitEdit() {
    const EditSession::Verdict v = session_.commit();
    if (!v.ok) {
        refuse(v);
        return false;
    }
    if (v.changed)
        SetModified(true);
    return true;
}

void TParametersEditForm::refuse(const EditSession::Verdict& v) {
    if (v.tell) {
        dialogs_.message(this, QString::fromStdString(v.message), "Ошибка", Buttons::Ok);
        // The box holds for the rest of this action only.
        QTimer::singleShot(0, this, [this] { session_.actionEnded(); });
    }
    ValueEdit->selectAll();
    // The edit box deselects its text when the focus leaves it, which happens
    // after this check (and on X11 once more when the window is activated again
    // after the box): keep it selected until the user comes back to the box.
    // The palette keeps the selection visible wherever the focus is.
    keepRefusedSelected_ = true;
    QTimer::singleShot(0, ValueEdit, [this] { ValueEdit->selectAll(); });
}

QString TParametersEditForm::SmsCommandText() const {
    if (!session_.current() || !Params)
        return {};
    return ui(::SmsCommandText(*Params, *session_.current(), editText()));
}

void TParametersEditForm::SetModified(bool flag) {
    Modified = flag;
    if (flag) {
        setWindowTitle(kCaptionModified);
        SmsLabel->setText(SmsCommandText());
        SmsLabel->adjustSize();
        refreshMarks();
    } else {
        setWindowTitle(kCaption);
    }
}

void TParametersEditForm::SaveActionExecute() {
    CommitEdit();
    const QString file = dialogs_.saveFile(this, kSettingsFileFilter, "txt");
    if (file.isEmpty() || !Params)
        return;
    writeSettingsFile(file.toStdString(), Params->SettingsText());
    SetModified(false);
}

TParametersEditForm::~TParametersEditForm() {
    // A write still running ends with the window: nothing more of it is shown.
    if (runner_)
        runner_->drop(send_);
}

void TParametersEditForm::SendActionExecute() {
    CommitEdit();
    if (!runner_ || !runner_->device() || !Params || runner_->running(send_))
        return;
    // The length check, the question, the backup read, the change list against
    // the controller, the write and its check are the settings write job's.
    jobs::SettingsWriteJob::Options options;
    options.offerTake = true;
    options.choose = true;
    options.fromFile = source_.fromFile;
    options.fileSerial = source_.fileSerial;
    options.lastLoad = loadedText_;
    auto job = std::make_shared<jobs::SettingsWriteJob>(*host_, *Params, Params->SettingsText(), options);
    send_ = runner_->start(job, [this, job](jobs::Outcome outcome) {
        if (outcome == jobs::Outcome::Done) {
            // The controller holds what was sent now: rows left out stay marked
            // as changed, and the editor as not written.
            loadedText_ = job->sentText();
            SetModified(job->leftOut() > 0);
            refreshMarks();
            return;
        }
        // Not all kept: the user's values stay, marked as not written, unless
        // they chose to take what the controller kept.
        if (const std::string* kept = job->keptForEditor(); kept && Params) {
            Params->LoadSettingsText(*kept);
            FormShow();
            SetModified(true);
        }
    });
}

void TParametersEditForm::CloseActionExecute() {
    CommitEdit();
    close();
}

bool TParametersEditForm::FormCloseQuery() {
    if (busy()) {
        // The settings frame is sent whole in any case; only its answer is given up.
        if (dialogs_.message(this, "Идет обмен с устройством. Прервать и закрыть окно?", "Внимание", Buttons::OkCancel) !=
            Answer::Ok)
            return false;
        runner_->drop(send_);
        return true;
    }
    if (!Modified)
        return true;
    return dialogs_.message(this, "Настройки изменены, выйти без сохранения?", "Внимание", Buttons::OkCancel) == Answer::Ok;
}

void TParametersEditForm::closeEvent(QCloseEvent* e) {
    if (runCloseQuery(dialogs_, this, [this] { return FormCloseQuery(); }))
        e->accept();
    else
        e->ignore();
}

void TParametersEditForm::reject() {
    // Escape goes through the same close query as every other way out.
    if (close())
        QDialog::reject();
}

bool TParametersEditForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ValueEdit && event->type() == QEvent::FocusIn &&
        static_cast<QFocusEvent*>(event)->reason() != Qt::ActiveWindowFocusReason)
        keepRefusedSelected_ = false; // the user is back in the box to correct it
    if (watched == ValueEdit && event->type() == QEvent::FocusOut) {
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        // A message box or menu taking the focus for a moment is not leaving the box.
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason && session_.current())
            runHandler(dialogs_, this, [this] { ValueEditExit(); });
    }
    if (watched == FilterEdit && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Down || key == Qt::Key_Return || key == Qt::Key_Enter) {
            runHandler(dialogs_, this, [this] { selectFirstMatch(); });
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}
