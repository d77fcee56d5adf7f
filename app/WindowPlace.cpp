#include "WindowPlace.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace {
constexpr int kScreenMargin = 40;
}

void placeOnOwnersScreen(QWidget& window) {
    QScreen* screen = window.parentWidget() ? window.parentWidget()->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect room = screen->availableGeometry().adjusted(kScreenMargin, kScreenMargin, -kScreenMargin, -kScreenMargin);
    window.resize(std::min(window.width(), room.width()), std::min(window.height(), room.height()));
    window.move(room.center() - window.rect().center());
}
