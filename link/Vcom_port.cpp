#include "Vcom_port.h"


VCOM_Port::VCOM_Port(const char* name, std::unique_ptr<SerialBackend> backend)
    : name_(name ? name : ""), backend_(std::move(backend)) {}

VCOM_Port::~VCOM_Port() { close(); }

void VCOM_Port::setName(const char* name) { name_ = name ? name : ""; }

std::string VCOM_Port::describe(const SerialLineSettings& s) {
    return "Параметры порта " + std::to_string(s.baudRate) + ", " + std::to_string(s.byteSize) +
           ", Parity " + std::to_string(s.parity) + ", StopBits " + std::to_string(s.stopBits + 1);
}

bool VCOM_Port::open() {
    if (isOpen())
        return true;
    problem_.reset();
    if (!backend_->open(name_))
        return false;

    // A port whose settings or time-outs could not be applied is released at once:
    // keeping it open would let the next exchange run on an unconfigured line.
    if (!backend_->readSettings()) {
        backend_->close();
        problem_ = PortNotice{"Статус порта не досупен", "Error"};
        return false;
    }
    const SerialLineSettings settings;
    const bool applied = backend_->applySettings(settings);
    const std::string description = describe(settings);
    if (!applied) {
        backend_->close();
        problem_ = PortNotice{description, "Параметры порта не устанавливаются"};
        return false;
    }
    if (!backend_->applyTimeouts(SerialTimeouts{})) {
        backend_->close();
        problem_ = PortNotice{description, "Параметры таймаута не устанавливаются"};
        return false;
    }
    return true;
}

void VCOM_Port::close() {
    if (backend_->isOpen())
        backend_->close();
}

bool VCOM_Port::isOpen() const { return backend_->isOpen(); }

// A failed queue query (device unplugged) reads as empty queues: the sender is not
// held back, its bytes are lost, and the exchange ends at its reply time limit.
int VCOM_Port::outputCount() {
    int in = 0, out = 0;
    if (!isOpen() || !backend_->queueCounts(in, out))
        return 0;
    return out;
}

int VCOM_Port::inputCount() {
    int in = 0, out = 0;
    if (!isOpen() || !backend_->queueCounts(in, out))
        return 0;
    return in;
}

int VCOM_Port::outputRoom() {
    if (!isOpen())
        return 0;
    const int queued = outputCount();
    return queued < kOutputWindow ? kOutputWindow - queued : 0;
}

int VCOM_Port::write(const void* data, int count) {
    if (count <= 0 || !isOpen())
        return 0;
    return backend_->write(data, count);
}

int VCOM_Port::read(void* buffer, int count) {
    if (count <= 0 || !isOpen())
        return 0;
    return backend_->read(buffer, count);
}

bool VCOM_Port::waitForInput(int moreThan, int timeoutMs) {
    if (!isOpen() || timeoutMs <= 0)
        return false;
    return backend_->waitForInput(moreThan, timeoutMs);
}

void VCOM_Port::waitForOutput(int timeoutMs) {
    if (isOpen() && timeoutMs > 0)
        backend_->waitForOutput(timeoutMs);
}
