#pragma once
// Driving shown windows as a user does: clicks on visible widgets, real message
// boxes answered with real key presses, and waiting, with the event loop
// running, until a window's jobs and exchanges have ended.
#include "Z58main.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <deque>
#include <gtest/gtest.h>
#include <vector>

inline void shown(QWidget& w) {
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
}

inline void click(QWidget* w) {
    ASSERT_TRUE(w->isVisible() && w->isEnabled()) << w->objectName().toStdString();
    QTest::mouseClick(w, Qt::LeftButton);
}

// Lets the program run until the window has nothing left to do with the controller.
inline bool settled(TMainForm& f, int timeoutMs = 30000) {
    return QTest::qWaitFor([&] { return !f.busy(); }, timeoutMs);
}

// Answers each real message box (QtDialogs) as it comes up with the next key
// of the queue (Return when it is empty: OK / Yes; Escape: Cancel / No) and
// records its caption and text. The change list of a write (with its
// "Записать" button) takes a key of the queue as well; the menu's change list
// is closed (Escape). Lists are recorded with their title and an empty text.
class RealBoxes : public QObject {
public:
    std::deque<int> keys;
    std::vector<QString> texts, captions;
    bool answerLists = true; // false: a test answers the write's change list itself

    RealBoxes() {
        timer_.setInterval(5);
        connect(&timer_, &QTimer::timeout, this, [this] { poll(); });
        timer_.start();
    }

private:
    void poll() {
        QWidget* modal = QApplication::activeModalWidget();
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (!modal || !modal->isVisible() || modal->property("answered").toBool() || !modal->inherits("QDialog"))
            return;
        if (!box && !modal->inherits("ChangesView"))
            return; // a window under test, not a box to answer
        if (!box && !answerLists && modal->findChild<QPushButton*>("WriteButton"))
            return;
        modal->setProperty("answered", true);
        texts.push_back(box ? box->text() : QString());
        captions.push_back(modal->windowTitle());
        if (!box && !modal->findChild<QPushButton*>("WriteButton")) {
            QTest::keyClick(modal, Qt::Key_Escape); // its one button closes it
            return;
        }
        const int key = keys.empty() ? Qt::Key_Return : keys.front();
        if (!keys.empty())
            keys.pop_front();
        QTest::keyClick(box ? static_cast<QWidget*>(box) : modal, static_cast<Qt::Key>(key));
    }
    QTimer timer_;
};
