#include "WaitNote.h"

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace {
constexpr int kTickMs = 100;
constexpr int kLineHeight = 18;
} // namespace

QString WaitNote::waitText(qint64 elapsedMs, int limitMs) {
    return "Ожидание ответа устройства… " + QString::number(elapsedMs / 1000) + " с из " + QString::number(limitMs / 1000);
}

WaitNote::WaitNote(QWidget* owner, int limitMs, bool searching, QElapsedTimer since)
    : owner_(owner ? owner->window() : nullptr), limitMs_(limitMs), searching_(searching), clock_(since),
      timer_(new QTimer(this)) {
    timer_->setInterval(kTickMs);
    connect(timer_, &QTimer::timeout, this, &WaitNote::tick);
    timer_->start();
}

WaitNote::~WaitNote() { finish(); }

void WaitNote::tick() {
    const qint64 elapsed = clock_.elapsed();
    if (elapsed < kShowAfterMs)
        return;
    if (!cursor_) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        cursor_ = true;
    }
    if (searching_) {
        if (!box_) {
            box_ = new QDialog(owner_);
            box_->setObjectName("SearchBox");
            box_->setWindowTitle("Определение порта");
            box_->setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::CustomizeWindowHint);
            box_->setWindowModality(Qt::ApplicationModal);
            auto* layout = new QVBoxLayout(box_);
            portLabel_ = new QLabel(port_.isEmpty() ? QString("Поиск…") : "Поиск: " + port_ + "…", box_);
            portLabel_->setObjectName("SearchPort");
            boxWait_ = new QLabel(box_);
            boxWait_->setObjectName("SearchWait");
            auto* cancel = new QPushButton("Отмена", box_);
            cancel->setObjectName("SearchCancel");
            layout->addWidget(portLabel_);
            layout->addWidget(boxWait_);
            layout->addWidget(cancel, 0, Qt::AlignHCenter);
            box_->setMinimumWidth(260);
            // Escape rejects the box; either way the search stops after the port it asks.
            connect(cancel, &QPushButton::clicked, box_, &QDialog::reject);
            connect(box_, &QDialog::rejected, this, [this] {
                cancelled_ = true;
                if (portLabel_)
                    portLabel_->setText("Поиск прерван, ждите…");
                if (box_)
                    box_->show(); // stays up until the port being asked lets go
                emit cancelRequested();
            });
            box_->adjustSize();
            if (owner_)
                box_->move(owner_->geometry().center() - box_->rect().center());
            box_->show();
        }
        if (boxWait_)
            boxWait_->setText(waitText(elapsed - portSince_, limitMs_));
        return;
    }
    if (owner_ && !line_) {
        line_ = new QLabel(owner_);
        line_->setObjectName("WaitLine");
        line_->setAutoFillBackground(true);
        line_->setIndent(4);
        line_->setGeometry(0, owner_->height() - kLineHeight, owner_->width(), kLineHeight);
        line_->show();
        line_->raise();
    }
    if (line_)
        line_->setText(waitText(elapsed, limitMs_));
}

void WaitNote::setPort(const QString& port) {
    portSince_ = clock_.elapsed();
    if (portLabel_ && !cancelled_)
        portLabel_->setText("Поиск: " + port + "…");
    port_ = port;
}

void WaitNote::finish() {
    timer_->stop();
    if (cursor_) {
        QApplication::restoreOverrideCursor();
        cursor_ = false;
    }
    delete line_;
    delete box_;
}
