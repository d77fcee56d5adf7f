#pragma once
// The backup a window takes before it overwrites the controller's settings:
// the settings and serial number read on the exchange worker, saved in the
// backups folder. When it cannot be taken the user decides whether to go on.
#include <QString>
#include <functional>
#include <string>

class DeviceInterface;
class Dialogs;
class QWidget;

// True to go on: the backup was saved (path set, and logged when log is given)
// or the user chose to go on without it (path empty). False: cancelled.
bool backupBeforeWrite(Dialogs& dialogs, QWidget* owner, DeviceInterface& device, std::string& path,
                       const std::function<void(const QString&)>& log);
