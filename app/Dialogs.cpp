#include "Dialogs.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QFontMetrics>
#include <QGridLayout>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>

const char* const kSettingsFileFilter = "текстовые файлы настроек | *.txt";

namespace {

// "description | *.txt" as the toolkit writes it: "description (*.txt)".
QString toolkitFilter(const QString& filter) {
    const int bar = filter.indexOf('|');
    if (bar < 0)
        return filter;
    return filter.left(bar).trimmed() + " (" + filter.mid(bar + 1).trimmed() + ")";
}

QString runFileDialog(QWidget* owner, const QString& filter, const QString& suffix, bool save) {
    QFileDialog dialog(owner);
    dialog.setNameFilter(toolkitFilter(filter));
    dialog.setDefaultSuffix(suffix);
    if (save) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
    } else {
        dialog.setFileMode(QFileDialog::ExistingFile);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().first();
}

} // namespace

const char* const kErrorBoxCaption = "Z58";

int captionWidth(const QString& caption) {
    // The title bar's font is the window manager's; the application font is the
    // nearest guess, with room for the icon and the close button.
    constexpr int kTitleBarExtras = 120;
    return QFontMetrics(QApplication::font()).horizontalAdvance(caption) * 5 / 4 + kTitleBarExtras;
}

// A message box sizes itself by its text; a longer caption would be cut off in
// the title bar. Widen the box until the whole caption fits.
void fitCaption(QMessageBox& box, const QString& caption) {
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    if (!grid)
        return;
    grid->addItem(new QSpacerItem(captionWidth(caption), 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(), 0,
                  1, grid->columnCount());
}

Answer QtDialogs::message(QWidget* owner, const QString& text, const QString& caption, Buttons buttons) {
    QMessageBox::StandardButtons set = QMessageBox::Ok;
    if (buttons == Buttons::OkCancel)
        set = QMessageBox::Ok | QMessageBox::Cancel;
    else if (buttons == Buttons::YesNo || buttons == Buttons::YesNoDefaultNo)
        set = QMessageBox::Yes | QMessageBox::No;
    QMessageBox box(QMessageBox::NoIcon, caption, text, set, owner);
    if (buttons == Buttons::YesNoDefaultNo)
        box.setDefaultButton(QMessageBox::No);
    fitCaption(box, caption);
    switch (box.exec()) {
    case QMessageBox::Cancel: return Answer::Cancel;
    case QMessageBox::Yes: return Answer::Yes;
    case QMessageBox::No: return Answer::No;
    default: return buttons == Buttons::OkCancel && box.clickedButton() == nullptr ? Answer::Cancel : Answer::Ok;
    }
}

void QtDialogs::error(QWidget* owner, const QString& text) {
    QMessageBox box(QMessageBox::Critical, kErrorBoxCaption, text, QMessageBox::Ok, owner);
    fitCaption(box, kErrorBoxCaption);
    box.exec();
}

QString QtDialogs::openFile(QWidget* owner, const QString& filter, const QString& suffix) {
    return runFileDialog(owner, filter, suffix, false);
}

QString QtDialogs::saveFile(QWidget* owner, const QString& filter, const QString& suffix) {
    return runFileDialog(owner, filter, suffix, true);
}

QString QtDialogs::openFolder(QWidget* owner, const QString& start) {
    QFileDialog dialog(owner);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    if (!start.isEmpty())
        dialog.setDirectory(start);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().first();
}

void QtDialogs::showModal(QDialog* window) { window->exec(); }

bool QtDialogs::password(QWidget* owner, const QString& text, const QString& caption, QString& typed) {
    QInputDialog dialog(owner);
    dialog.setWindowTitle(caption);
    dialog.setLabelText(text);
    dialog.setTextEchoMode(QLineEdit::Password);
    dialog.setInputMethodHints(Qt::ImhSensitiveData | Qt::ImhNoPredictiveText);
    dialog.setMinimumWidth(captionWidth(caption));
    if (dialog.exec() != QDialog::Accepted)
        return false;
    typed = dialog.textValue();
    return true;
}
