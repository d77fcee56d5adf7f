// The port search: tries COM2 to COM254 until the controller answers and says
// what answered. Ports another runner holds are never opened.
#include "Cp1251.h"
#include "Device.h"
#include "PortList.h"
#include "PortProbe.h"

bool Device::FindDevicePort(std::string& found) {
    const std::string before = portName();
    // A controller plugged in since the last look gets its COMn name first.
    refreshPortNames();
    // A cancelled search ends as one that found nothing.
    for (int n = 2; n <= kLastSearchedPort && !cancelled(); ++n) {
        const std::string name = "COM" + std::to_string(n);
        if ((portsInUse_ && portsInUse_(name)) || !probeSerialPort(name))
            continue;
        if (searchObserver_)
            searchObserver_(name);
        SetPortName(name);
        std::uint32_t serial = 0;
        if (GetSerialNumber(serial) < 0)
            continue;
        std::string version;
        if (cancelled() || GetVersionInfo(version) < 0)
            continue;
        DeviceInfo info;
        ParseVersionInfo(info, version.c_str());
        const std::string report = "Порт:\tCOM" + std::to_string(n) + "\n" +
                                   "Тип:\t" + cp1251::toUtf8(fieldText(info.deviceType)) + "\n" +
                                   "Версия:\t" + cp1251::toUtf8(fieldText(info.firmwareVersion)) + "\n" +
                                   "Номер:\t" + std::to_string(serial) + "\n";
        found = report;
        return true;
    }
    // Not found: go back to the port the user chose, so the next operation does
    // not silently talk to whatever serial device passed the probe last.
    SetPortName(before);
    return false;
}
