#pragma once
// The contract between VCOM_Port and one operating system's serial API. Each
// platform implements it in its own file (serial_backend_posix.cpp,
// serial_backend_win32.cpp); CMake compiles exactly one. Tests may hand
// VCOM_Port a fake to script the line without a device.
#include <memory>
#include <string>

// Line settings the port is opened with; the values are the Windows DCB codes so
// that the port description text reads the same on every platform.
struct SerialLineSettings {
    unsigned baudRate = 9600;
    unsigned byteSize = 8;
    unsigned parity = 0;   // NOPARITY
    unsigned stopBits = 0; // ONESTOPBIT
};

// Time-outs in milliseconds, in the Windows COMMTIMEOUTS sense.
struct SerialTimeouts {
    unsigned readInterval = 0;
    unsigned readMultiplier = 1;
    unsigned readConstant = 1000;
    unsigned writeMultiplier = 1;
    unsigned writeConstant = 1000;
};

class SerialBackend {
public:
    virtual ~SerialBackend() = default;
    // Opens the named port read/write and exclusively and discards whatever its
    // receive queue already held: bytes from before this exchange are never a
    // reply to it. False (and nothing held) when the port does not exist or
    // another handle has it.
    virtual bool open(const std::string& name) = 0;
    virtual bool isOpen() const = 0;
    virtual void close() = 0;
    // Reads the current line settings (GetCommState). False: they cannot be read.
    virtual bool readSettings() = 0;
    // Applies speed, size, parity and stop bits, RTS on; every other setting stays
    // as read. False: the driver refused.
    virtual bool applySettings(const SerialLineSettings& settings) = 0;
    virtual bool applyTimeouts(const SerialTimeouts& timeouts) = 0;
    // Bytes waiting in the driver's queues. False when the query itself failed.
    virtual bool queueCounts(int& input, int& output) = 0;
    // Blocking transfers bounded by the applied time-outs; return the count moved.
    virtual int write(const void* data, int count) = 0;
    virtual int read(void* buffer, int count) = 0;
    // Sleeps until the receive queue holds more than `moreThan` bytes (true) or
    // timeoutMs passed (false). Never spins: the reply wait calls it between passes.
    virtual bool waitForInput(int moreThan, int timeoutMs) = 0;
    // Sleeps a short while (at most timeoutMs) so the transmit queue can drain;
    // the send loop calls it when the window has no room.
    virtual void waitForOutput(int timeoutMs) = 0;
};

std::unique_ptr<SerialBackend> makePlatformSerialBackend();
