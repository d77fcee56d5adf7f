// The reply wait fed arbitrary bytes in arbitrary chunk sizes, with a fake clock:
// it always ends with a defined result code and never writes past its buffers.
#include "Device.h"
#include "FakeLine.h"
#include "Vcom_port.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    FakeLineState line;
    line.pollsPerChunk = 1 + data[0] % 8;
    const int chunk = 1 + data[1] % 64;
    const std::string bytes(reinterpret_cast<const char*>(data + 2), size - 2);
    for (size_t i = 0; i < bytes.size(); i += static_cast<size_t>(chunk))
        line.script(bytes.substr(i, static_cast<size_t>(chunk)));
    FakeClock clock;
    clock.step = 7;
    Device device(std::make_unique<VCOM_Port>("COM5", std::make_unique<FakeLineBackend>(line)), clock);
    int code = 0;
    switch (data[0] >> 5) {
    case 0: {
        std::string text = "untouched";
        code = device.ReadSettings(text);
        if (code != 1 && text != "untouched")
            __builtin_trap();
        if (code == 1 && text.size() > 1015)
            __builtin_trap();
        break;
    }
    case 1: {
        std::string text;
        code = device.GetVersionInfo(text);
        break;
    }
    case 2: {
        unsigned char diag[24];
        code = device.ReadDiagnostics(diag);
        break;
    }
    case 3:
        code = device.BeginFirmwareUpdate();
        break;
    default: {
        std::uint32_t serial = 0;
        code = device.GetSerialNumber(serial);
        break;
    }
    }
    if (code != 1 && code != -2 && code != -3)
        __builtin_trap();
    if (device.ReplyTimeout() != kReplyTimeoutMs || line.isOpen)
        __builtin_trap();
    return 0;
}
