#pragma once
// VCOM_Port: the program's only path to the controller's USB virtual COM port.
// Keeps the port name, opens with fixed line settings (9600 8N1, RTS on) and
// time-outs (a read of n bytes waits at most n + 1000 ms), and does blocking I/O.
// The device object owns exactly one; it is opened and closed around each exchange.
#include "PortNotice.h"
#include "SerialBackend.h"

#include <memory>
#include <optional>
#include <string>

class VCOM_Port {
public:
    // Assumed depth of the driver's transmit queue: how much may be queued at once.
    static constexpr int kOutputWindow = 64;

    explicit VCOM_Port(const char* name,
                       std::unique_ptr<SerialBackend> backend = makePlatformSerialBackend());
    ~VCOM_Port();
    VCOM_Port(const VCOM_Port&) = delete;
    VCOM_Port& operator=(const VCOM_Port&) = delete;

    // Replaces the stored name; an open port stays on the old one until closed.
    void setName(const char* name);
    const std::string& name() const { return name_; }

    // False when the port cannot be opened; when it opened but could not be
    // configured, openProblem() says what the user is to be told.
    bool open();
    const std::optional<PortNotice>& openProblem() const { return problem_; }
    void close();
    bool isOpen() const;

    int outputCount();
    int inputCount();
    int outputRoom();

    int write(const void* data, int count);
    int read(void* buffer, int count);

    // Sleeping waits of the exchange (see SerialBackend); false / no wait when closed.
    bool waitForInput(int moreThan, int timeoutMs);
    void waitForOutput(int timeoutMs);

    // "Параметры порта 9600, 8, Parity 0, StopBits 1" for the given settings.
    static std::string describe(const SerialLineSettings& settings);

private:
    std::string name_;
    std::unique_ptr<SerialBackend> backend_;
    std::optional<PortNotice> problem_;
};
