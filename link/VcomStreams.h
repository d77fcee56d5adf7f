#pragma once
// The transmitter and receiver over a VCOM_Port. They borrow the port: the device
// object that made port and streams destroys them, the streams never close it.
#include "Streams.h"

class VCOM_Port;

class VCOMOutputStream : public sorka::io::OutputStream {
public:
    explicit VCOMOutputStream(VCOM_Port* port) : port_(port) {}
    bool isOpen() override;
    void close() override;
    bool open() override;
    int room() override;
    bool isEmpty() override;
    int write(const void* data, int count) override;

private:
    VCOM_Port* port_;
};

class VCOMInputStream : public sorka::io::InputStream {
public:
    explicit VCOMInputStream(VCOM_Port* port) : port_(port) {}
    int available() override;
    bool isOpen() override;
    void close() override;
    bool open() override;
    bool isEmpty() override;
    int read(void* buffer, int count) override;

private:
    VCOM_Port* port_;
};
