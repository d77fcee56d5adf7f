#include "VcomStreams.h"

#include "Vcom_port.h"

using sorka::io::kStreamNotOpen;
using sorka::io::kStreamShort;

bool VCOMOutputStream::isOpen() { return port_->isOpen(); }
void VCOMOutputStream::close() { port_->close(); }
bool VCOMOutputStream::open() { return port_->open(); }
int VCOMOutputStream::room() { return port_->outputRoom(); }
bool VCOMOutputStream::isEmpty() { return port_->outputCount() == 0; }

int VCOMOutputStream::write(const void* data, int count) {
    if (!isOpen())
        return kStreamNotOpen;
    return port_->write(data, count) < count ? kStreamShort : count;
}

int VCOMInputStream::available() { return port_->inputCount(); }
bool VCOMInputStream::isOpen() { return port_->isOpen(); }
void VCOMInputStream::close() { port_->close(); }
bool VCOMInputStream::open() { return port_->open(); }
bool VCOMInputStream::isEmpty() { return port_->inputCount() == 0; }

int VCOMInputStream::read(void* buffer, int count) {
    if (!isOpen())
        return kStreamNotOpen;
    return port_->read(buffer, count) < count ? kStreamShort : count;
}
