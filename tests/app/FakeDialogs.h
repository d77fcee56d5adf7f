#pragma once
// Answers message boxes and file dialogs from a queue and records what was asked.
#include "Dialogs.h"

#include <QDialog>
#include <QPushButton>

#include <QString>
#include <deque>
#include <functional>
#include <vector>

struct FakeDialogs : Dialogs {
    struct Asked {
        QString text, caption;
        Buttons buttons;
    };
    std::vector<Asked> asked;
    std::deque<Answer> answers;       // empty: OK / Yes
    std::deque<QString> files;        // empty: cancelled
    std::vector<QString> errors;
    std::function<void(QDialog*)> onModal;
    std::deque<bool> lists;           // the answers to a write's change list; empty: Записать
    std::deque<QString> passwords;    // typed when a password is asked; empty: cancelled
    std::vector<Asked> passwordAsks;
    int modals = 0;

    Answer message(QWidget*, const QString& text, const QString& caption, Buttons buttons) override {
        asked.push_back({text, caption, buttons});
        if (!answers.empty()) {
            const Answer a = answers.front();
            answers.pop_front();
            return a;
        }
        return buttons == Buttons::YesNo ? Answer::Yes : Answer::Ok;
    }
    void error(QWidget*, const QString& text) override { errors.push_back(text); }
    QString openFile(QWidget*, const QString& filter, const QString& suffix) override { return nextFile(filter, suffix); }
    QString saveFile(QWidget*, const QString& filter, const QString& suffix) override { return nextFile(filter, suffix); }
    // A folder comes from the same queue as the files.
    QString openFolder(QWidget*, const QString& start) override {
        lastFolderStart = start;
        return nextFile({}, {});
    }
    void showModal(QDialog* w) override {
        ++modals;
        if (onModal)
            onModal(w);
        if (w->inherits("ChangesView") && w->findChild<QPushButton*>("WriteButton")) {
            const bool write = lists.empty() || lists.front();
            if (!lists.empty())
                lists.pop_front();
            write ? w->accept() : w->reject();
        }
    }
    bool password(QWidget*, const QString& text, const QString& caption, QString& typed) override {
        passwordAsks.push_back({text, caption, Buttons::OkCancel});
        if (passwords.empty())
            return false;
        typed = passwords.front();
        passwords.pop_front();
        return true;
    }
    QString nextFile(const QString& filter, const QString& suffix) {
        lastFilter = filter;
        lastSuffix = suffix;
        if (files.empty())
            return {};
        QString f = files.front();
        files.pop_front();
        return f;
    }
    QString lastFilter, lastSuffix, lastFolderStart;

    std::vector<QString> texts() const {
        std::vector<QString> t;
        for (const auto& a : asked)
            t.push_back(a.text);
        return t;
    }
};
