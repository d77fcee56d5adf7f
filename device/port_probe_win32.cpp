#include "PortPath.h"
#include "PortProbe.h"

#include <windows.h>

bool probeSerialPort(const std::string& portName) {
    HANDLE h = ::CreateFileA(devicePath(portName).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    bool ok = ::GetCommState(h, &dcb) != 0;
    if (ok) {
        dcb.BaudRate = CBR_115200;
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        ok = ::SetCommState(h, &dcb) != 0;
    }
    if (ok) {
        COMMTIMEOUTS t{};
        ::GetCommTimeouts(h, &t);
        t.ReadIntervalTimeout = 1;
        t.ReadTotalTimeoutMultiplier = 1;
        t.ReadTotalTimeoutConstant = 2000;
        t.WriteTotalTimeoutMultiplier = 1;
        t.WriteTotalTimeoutConstant = 2000;
        ok = ::SetCommTimeouts(h, &t) != 0;
    }
    ::CloseHandle(h);
    return ok;
}
