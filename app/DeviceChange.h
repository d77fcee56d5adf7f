#pragma once
// Calls back when the OS says a device arrived or went (Windows: WM_DEVICECHANGE).
// POSIX has no such message for serial ports; the port list polls instead.
#include <QObject>
#include <functional>

void watchDeviceChanges(QObject* owner, std::function<void()> changed);
