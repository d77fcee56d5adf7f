#include "Dialogs.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
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

Answer QtDialogs::message(QWidget* owner, const QString& text, const QString& caption, Buttons buttons) {
    QMessageBox::StandardButtons set = QMessageBox::Ok;
    if (buttons == Buttons::OkCancel)
        set = QMessageBox::Ok | QMessageBox::Cancel;
    else if (buttons == Buttons::YesNo)
        set = QMessageBox::Yes | QMessageBox::No;
    QMessageBox box(QMessageBox::NoIcon, caption, text, set, owner);
    switch (box.exec()) {
    case QMessageBox::Cancel: return Answer::Cancel;
    case QMessageBox::Yes: return Answer::Yes;
    case QMessageBox::No: return Answer::No;
    default: return buttons == Buttons::OkCancel && box.clickedButton() == nullptr ? Answer::Cancel : Answer::Ok;
    }
}

void QtDialogs::error(QWidget* owner, const QString& text) {
    QMessageBox box(QMessageBox::Critical, QApplication::applicationDisplayName(), text, QMessageBox::Ok, owner);
    box.exec();
}

QString QtDialogs::openFile(QWidget* owner, const QString& filter, const QString& suffix) {
    return runFileDialog(owner, filter, suffix, false);
}

QString QtDialogs::saveFile(QWidget* owner, const QString& filter, const QString& suffix) {
    return runFileDialog(owner, filter, suffix, true);
}

void QtDialogs::showModal(QDialog* window) { window->exec(); }
