#pragma once
// A controller reached through a pair of byte streams. One operation per
// controller function; the slot order is part of the design, keep it.
#include "DeviceInfo.h"
#include "PortNotice.h"
#include "Streams.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class DeviceInterface {
public:
    virtual ~DeviceInterface() = default;

    virtual void SetPortName(const std::string& name) = 0;
    // Text results are Windows-1251; out-parameters are written only on success.
    virtual int ReadSettings(std::string& text) = 0;
    virtual int WriteSettings(const std::string& text) = 0;
    virtual int GetSerialNumber(std::uint32_t& serial) = 0;
    virtual int SetSerialNumber(std::uint32_t serial) = 0;
    virtual int GetVersionInfo(std::string& text) = 0;
    virtual int BeginFirmwareUpdate() = 0;
    virtual int BeginSoundUpdate() = 0;
    virtual int WriteDataBlock(const unsigned char* data, std::uint32_t offset, std::uint16_t length) = 0;
    virtual int CheckDataCrc(std::uint32_t crc, std::uint32_t byteCount) = 0;
    virtual int StartCalibration(std::int16_t value1, std::int16_t value2) = 0;
    virtual int ReadDiagnostics(unsigned char (&block)[24]) = 0;
    virtual int RestartDevice() = 0;
    virtual int ParseVersionInfo(DeviceInfo& info, const char* text) = 0;
    // Searches the ports for the controller; true with what was found (UTF-8,
    // one "name:\tvalue" line each) when it answered, the device then on its
    // port. Remembering the port is the caller's.
    virtual bool FindDevicePort(std::string& report) = 0;

    virtual const std::string& PortName() const = 0;
    // Lets another thread end the current reply wait early (it then gives the
    // time-out's result) and stop the port search before its next port. A frame
    // being sent is always finished. Null: nothing can cancel.
    virtual void SetCancelFlag(const std::atomic<bool>* flag) = 0;
    // Told the name of each port the search is about to ask (from the thread
    // that runs the search).
    virtual void SetSearchObserver(std::function<void(const std::string&)> observer) = 0;
    // Ports the search leaves alone: another controller's runner has them open.
    virtual void SetPortsInUse(std::function<bool(const std::string&)> inUse) = 0;
    // What the serial port had to tell since the last call (configuration
    // failures), oldest first; the caller shows it.
    virtual std::vector<PortNotice> TakePortNotices() = 0;

protected:
    std::unique_ptr<sorka::io::OutputStream> outStream;
    std::unique_ptr<sorka::io::InputStream> inStream;
};
