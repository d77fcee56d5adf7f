// WM_DEVICECHANGE reaches every top-level window; one application-wide native
// event filter sees it for all of them, and lives as long as its owner.
#include "DeviceChange.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <windows.h>
#include <dbt.h>

namespace {

class DeviceChangeFilter : public QObject, public QAbstractNativeEventFilter {
public:
    DeviceChangeFilter(QObject* owner, std::function<void()> changed) : QObject(owner), changed_(std::move(changed)) {
        QCoreApplication::instance()->installNativeEventFilter(this);
    }
    ~DeviceChangeFilter() override { QCoreApplication::instance()->removeNativeEventFilter(this); }

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        if (type != "windows_generic_MSG")
            return false;
        const MSG* msg = static_cast<const MSG*>(message);
        if (msg->message == WM_DEVICECHANGE &&
            (msg->wParam == DBT_DEVICEARRIVAL || msg->wParam == DBT_DEVICEREMOVECOMPLETE || msg->wParam == DBT_DEVNODES_CHANGED))
            changed_();
        return false;
    }

private:
    std::function<void()> changed_;
};

} // namespace

void watchDeviceChanges(QObject* owner, std::function<void()> changed) {
    if (QCoreApplication::instance())
        new DeviceChangeFilter(owner, std::move(changed));
}
