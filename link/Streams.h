#pragma once
// Byte-stream interfaces between the message classes and the serial port.
// The order of the virtual operations is part of the class layout; keep it.

namespace sorka::io {

// Transfer results besides the byte count.
constexpr int kStreamNotOpen = -1;
constexpr int kStreamShort = -2;

class OutputStream {
public:
    virtual ~OutputStream() = default;
    virtual bool isOpen() = 0;
    virtual void close() = 0;
    virtual bool open() = 0;
    // Bytes that may be written now without overfilling the 64-byte transmit window.
    virtual int room() = 0;
    virtual bool isEmpty() = 0;
    // count on success, kStreamNotOpen, or kStreamShort when fewer bytes went out.
    virtual int write(const void* data, int count) = 0;
};

class InputStream {
public:
    virtual ~InputStream() = default;
    virtual int available() = 0;
    virtual bool isOpen() = 0;
    virtual void close() = 0;
    virtual bool open() = 0;
    virtual bool isEmpty() = 0;
    // count on success, kStreamNotOpen, or kStreamShort when fewer bytes arrived.
    virtual int read(void* buffer, int count) = 0;
};

} // namespace sorka::io
