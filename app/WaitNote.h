#pragma once
// What a window shows while it waits for the controller: after about 300 ms a
// wait cursor and the line "Ожидание ответа устройства… N с из M" along the
// window's bottom edge; for the port search, a small box with the port being
// asked and a Cancel button (Escape works too).
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>

class QDialog;
class QLabel;
class QTimer;
class QWidget;

class WaitNote : public QObject {
    Q_OBJECT
public:
    static constexpr int kShowAfterMs = 300;

    // since: when the wait began (the note may be made after it did).
    WaitNote(QWidget* owner, int limitMs, bool searching, QElapsedTimer since);
    ~WaitNote() override;

    void setPort(const QString& port);
    void finish();

    static QString waitText(qint64 elapsedMs, int limitMs);

signals:
    void cancelRequested();

private:
    void tick();

    QPointer<QWidget> owner_;
    int limitMs_;
    bool searching_;
    QElapsedTimer clock_;
    QTimer* timer_;
    QPointer<QLabel> line_;
    QPointer<QDialog> box_;
    QLabel* portLabel_ = nullptr;
    QLabel* boxWait_ = nullptr;
    bool cursor_ = false, cancelled_ = false;
    QString port_;
    qint64 portSince_ = 0;
};
