#pragma once
// A window added to the main window must not move or rename anything there:
// every part of it where it always was, with its text, and none under the
// button that opens the new window.
#include "Z58main.h"

#include <QGroupBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <gtest/gtest.h>

inline void expectMainPartsKept(TMainForm& f, QWidget* opener) {
    struct Kept {
        QWidget* widget;
        QRect geometry;
        QString text;
    };
    const Kept kept[] = {
        {f.GroupBox1, QRect(20, 16, 277, 89), " Порт подключения "},
        {f.FindPortButton, QRect(168, 31, 89, 25), "Определить"},
        {f.BlowUpdateButton, QRect(20, 125, 277, 25), "Обновить прошивку до 001.083"},
        {f.WaveUpdateButton, QRect(20, 156, 277, 25), "Обновить звук до 609375"},
        {f.ReadButton, QRect(20, 187, 277, 25), "Загрузить настройки из устройства"},
        {f.OpenFileButton, QRect(20, 218, 277, 25), "Открыть файл с настройками"},
        {f.GetSerialButton, QRect(20, 265, 129, 25), "Серийный номер"},
        {f.GetVersionButton, QRect(168, 265, 129, 25), "Версия ПО"},
        {f.JournalButton, QRect(168, 291, 129, 20), "Журнал работ"},
        {f.Memo1, QRect(0, 312, 320, 177), ""},
        {f.SaveProgress, QRect(0, 489, 320, 16), ""},
    };
    EXPECT_EQ(f.size(), QSize(320, 505));
    const QRect mine(opener->mapTo(&f, QPoint(0, 0)), opener->size());
    for (const auto& [w, geometry, text] : kept) {
        if (w == opener)
            continue;
        EXPECT_EQ(w->geometry(), geometry) << w->objectName().toStdString();
        if (auto* b = qobject_cast<QPushButton*>(w)) {
            EXPECT_EQ(b->text(), text);
        } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
            EXPECT_EQ(g->title(), text);
        }
        EXPECT_FALSE(mine.intersects(QRect(w->mapTo(&f, QPoint(0, 0)), w->size()))) << w->objectName().toStdString();
    }
    EXPECT_TRUE(f.rect().contains(opener->geometry()));
}
