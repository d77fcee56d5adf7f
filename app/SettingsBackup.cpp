#include "SettingsBackup.h"

#include "BackupStore.h"
#include "Device.h"
#include "Dialogs.h"
#include "ExchangeWorker.h"
#include "ResultCode.h"

#include <stdexcept>

bool backupBeforeWrite(Dialogs& dialogs, QWidget* owner, DeviceInterface& device, std::string& path,
                       const std::function<void(const QString&)>& log) {
    path.clear();
    letCancel(&device);
    std::string text;
    std::uint32_t serial = 0;
    const ExchangeWorker::Wait wait{static_cast<int>(kReplyTimeoutMs)};
    int code = exchangeWorker().run(owner, wait, [&] { return device.ReadSettings(text); });
    if (code >= 0)
        code = exchangeWorker().run(owner, wait, [&] { return device.GetSerialNumber(serial); });
    QString why;
    if (code < 0) {
        why = "Устройство не ответило: " + QString::fromUtf8(result::describe(code));
    } else {
        try {
            path = saveBackup(serial, text);
            if (log)
                log("Резервная копия настроек: " + QString::fromStdString(path));
            return true;
        } catch (const std::exception& e) {
            why = QString::fromUtf8(e.what());
        }
    }
    return dialogs.message(owner, "Не удалось сохранить резервную копию настроек.\n" + why + "\nПродолжить без неё?",
                           "Внимание", Buttons::OkCancel) == Answer::Ok;
}
