#pragma once
// A controller reached through a pair of byte streams. One operation per
// controller function; the slot order is part of the design, keep it.
#include "DeviceInfo.h"
#include "Notifier.h"
#include "Streams.h"

#include <cstdint>
#include <memory>
#include <string>

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
    virtual bool FindDevicePort(z58::OwnerHandle owner) = 0;

protected:
    std::unique_ptr<sorka::io::OutputStream> outStream;
    std::unique_ptr<sorka::io::InputStream> inStream;
};
