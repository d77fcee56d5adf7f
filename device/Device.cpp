#include "Device.h"

#include "ExchangeTrace.h"

#include "Messages.h"
#include "Vcom_port.h"
#include "VcomStreams.h"

#include <chrono>
#include <cstring>
#include <utility>

namespace msg = sorka::kbt::messages;

namespace {

// Counts the bytes the transmitter really took and notes a short write: a frame
// with a gap in it must not be finished as if nothing happened.
class CountingOutputStream final : public sorka::io::OutputStream {
public:
    explicit CountingOutputStream(sorka::io::OutputStream& inner) : inner_(inner) {}
    bool isOpen() override { return inner_.isOpen(); }
    void close() override { inner_.close(); }
    bool open() override { return inner_.open(); }
    int room() override { return failed ? 0 : inner_.room(); }
    bool isEmpty() override { return inner_.isEmpty(); }
    int write(const void* data, int count) override {
        if (failed)
            return sorka::io::kStreamShort;
        const int n = inner_.write(data, count);
        if (n == count)
            taken += static_cast<unsigned>(count);
        else
            failed = true;
        return n;
    }
    unsigned taken = 0;
    bool failed = false;

private:
    sorka::io::OutputStream& inner_;
};

// Operations that wait for the ordinary reply time limit (replyTimeout).
constexpr std::uint32_t kNormalLimit = 0;

} // namespace

Device::Device(const std::string& portName, ExchangeTrace* trace, MonotonicClock& clock)
    : Device(std::make_unique<VCOM_Port>(portName.c_str()), clock, trace) {}

Device::Device(std::unique_ptr<VCOM_Port> p, MonotonicClock& clock, ExchangeTrace* trace)
    : port(std::move(p)), clock_(clock), trace_(trace) {
    inStream = std::make_unique<VCOMInputStream>(port.get());
    outStream = std::make_unique<VCOMOutputStream>(port.get());
}

Device::~Device() {
    port->close();
    inStream.reset();
    outStream.reset();
}

const std::string& Device::portName() const { return port->name(); }

std::vector<PortNotice> Device::TakePortNotices() { return std::exchange(notices_, {}); }

void Device::SetPortName(const std::string& name) { port->setName(name.c_str()); }

// The whole send has the operation's limit as its deadline, whether the line
// takes nothing or trickles: a controller that stops reading ends the exchange
// with -2 instead of holding it for minutes. While the window is full the loop
// sleeps in short steps rather than spinning.
bool Device::sendRequest(msg::Message& request, std::uint32_t limit) {
    CountingOutputStream out(*outStream);
    const std::uint32_t start = clock_.nowMs();
    for (;;) {
        const unsigned before = out.taken;
        const bool complete = request.send(out);
        sent_ = out.taken;
        if (out.failed)
            return false;
        if (complete)
            return true;
        const std::uint32_t spent = clock_.nowMs() - start;
        if (spent >= limit)
            return false;
        if (out.taken == before)
            port->waitForOutput(static_cast<int>(limit - spent));
    }
}

template <class Take>
int Device::exchange(msg::Message& request, std::int16_t expectedType, std::uint32_t longLimit, Take take) {
    Traced traced(*this, request.type());
    if (!port->open()) {
        if (port->openProblem())
            notices_.push_back(*port->openProblem());
        return traced.end(result::kPortFailed);
    }
    if (!sendRequest(request, longLimit ? longLimit : replyTimeout)) {
        port->close();
        return traced.end(result::kNoReply);
    }
    ResetReceive();
    if (longLimit)
        SetReplyTimeout(longLimit);
    std::unique_ptr<msg::Message> reply;
    const int code = WaitReply(reply, expectedType);
    if (reply)
        take(*reply);
    reply.reset();
    port->close();
    if (longLimit)
        SetReplyTimeout(kReplyTimeoutMs);
    return traced.end(code);
}

Device::Traced::Traced(Device& device, std::int16_t request) : device_(device) {
    entry_.startedMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::system_clock::now().time_since_epoch())
                           .count();
    entry_.port = device.portName();
    entry_.request = request;
    started_ = device.clock_.nowMs();
    device.sent_ = device.received_ = 0;
    device.replyType_ = -1;
}

int Device::Traced::end(int result) {
    entry_.result = result;
    entry_.reply = device_.replyType_;
    entry_.bytesOut = device_.sent_;
    entry_.bytesIn = device_.received_;
    entry_.durationMs = device_.clock_.nowMs() - started_;
    if (device_.trace_)
        device_.trace_->add(std::move(entry_));
    return result;
}

// The pass structure, the limits and the result codes are those of the polling
// wait the protocol was designed around. Two things differ on purpose: a pass
// that finds nothing to do sleeps on the port until more bytes arrive (instead
// of spinning a core), and the payload read takes only the bytes already
// waiting, so a pause inside a reply never makes a read come up short and lose
// what it consumed (which used to give a wrong value with success).
int Device::WaitReply(std::unique_ptr<msg::Message>& reply, std::int16_t expectedType) {
    PendingReply& r = reply_;
    reply.reset();
    if (receiveState == Idle) {
        r.waitStart = clock_.nowMs();
        receiveState = AwaitHeader;
    }
    const std::uint32_t limit = replyTimeout;
    for (;;) {
        const std::uint32_t elapsed = clock_.nowMs() - r.waitStart;
        if (elapsed >= limit || cancelled()) {
            ResetReceive();
            return result::kNoReply;
        }
        bool progressed = false;
        int waiting = inStream->available();
        if (receiveState == AwaitHeader && waiting >= frame::kHeaderSize) {
            unsigned char word[2] = {0, 0}, length[2] = {0, 0};
            inStream->read(word, 2);
            inStream->read(length, 2);
            waiting -= frame::kHeaderSize;
            received_ += frame::kHeaderSize;
            progressed = true;
            r.replyType = static_cast<std::int16_t>(word[0] | (word[1] << 8));
            replyType_ = static_cast<std::int16_t>(r.replyType & 0x7FFF);
            r.replyLength = static_cast<std::uint16_t>(length[0] | (length[1] << 8));
            if (frame::acceptsPayloadLength(r.replyLength)) {
                r.remaining = r.replyLength;
                r.writePos = r.replyBuffer;
                receiveState = ReadPayload;
            } else {
                receiveState = Idle; // the header is dropped; the wait idles out
            }
        }
        if (receiveState == ReadPayload) {
            if (r.remaining == 0) {
                receiveState = AwaitTrailer;
            } else if (waiting >= 1) {
                const int want = waiting < r.remaining ? waiting : r.remaining;
                const int n = inStream->read(r.writePos, want);
                if (n > 0) {
                    received_ += static_cast<std::uint32_t>(n);
                    r.remaining = static_cast<std::uint16_t>(r.remaining - n);
                    r.writePos += n;
                    waiting -= n;
                    progressed = true;
                }
                if (r.remaining == 0)
                    receiveState = AwaitTrailer;
            }
        }
        if (receiveState == AwaitTrailer && waiting >= frame::kTrailerSize) {
            unsigned char trailer[frame::kTrailerSize];
            inStream->read(trailer, frame::kTrailerSize);
            received_ += frame::kTrailerSize;
            receiveState = Complete;
        }
        if (receiveState == Complete)
            break;
        if (!progressed) {
            int sleep = static_cast<int>(limit - elapsed);
            if (cancel_ && sleep > kCancelCheckMs)
                sleep = kCancelCheckMs;
            port->waitForInput(waiting, sleep);
        }
    }
    reply = msg::createMessage(static_cast<std::uint16_t>(r.replyType), r.replyBuffer, r.replyLength);
    ResetReceive();
    if (!reply)
        return result::kBadReply;
    if (reply->type() == expectedType)
        return result::kOk;
    reply.reset();
    return result::kBadReply;
}

int Device::ReadSettings(std::string& text) {
    msg::ReqSettingsMessage request;
    std::string copy;
    const int code = exchange(request, msg::type::Settings, kNormalLimit, [&](msg::Message& m) {
        // The reply's text lies in the reply buffer: copy it at once.
        copy = static_cast<msg::SettingsMessage&>(m).text();
    });
    if (code == result::kOk)
        text = std::move(copy);
    return code;
}

int Device::WriteSettings(const std::string& text) {
    // A longer text cannot reach the controller whole; refuse it before anything
    // goes out rather than send a cut frame.
    if (std::strlen(text.c_str()) > frame::kMaxSettingsTextLength)
        return result::kTooLong;
    msg::SettingsMessage request;
    request.setText(text.c_str());
    return exchange(request, msg::type::Settings, kNormalLimit, [](msg::Message&) {});
}

int Device::GetSerialNumber(std::uint32_t& serial) {
    msg::ReqIdInfoMessage request;
    std::uint32_t id = 0;
    const int code = exchange(request, msg::type::IdInfo, kNormalLimit,
                              [&](msg::Message& m) { id = static_cast<msg::IdInfoMessage&>(m).id(); });
    if (code == result::kOk)
        serial = id;
    return code;
}

int Device::SetSerialNumber(std::uint32_t serial) {
    msg::IdSetMessage request(serial);
    return exchange(request, msg::type::IdInfo, kNormalLimit, [](msg::Message&) {});
}

int Device::GetVersionInfo(std::string& text) {
    msg::ReqVersionMessage request;
    std::string copy;
    const int code = exchange(request, msg::type::Text, kNormalLimit,
                              [&](msg::Message& m) { copy = static_cast<msg::TextMessage&>(m).text(); });
    if (code == result::kOk)
        text = std::move(copy);
    return code;
}

int Device::BeginFirmwareUpdate() {
    msg::BeginFirmwareUpdateMessage request;
    return exchange(request, msg::type::BeginUpdateAck, kFirmwareBeginTimeoutMs, [](msg::Message&) {});
}

int Device::BeginSoundUpdate() {
    msg::BeginWaveUpdateMessage request;
    return exchange(request, msg::type::BeginUpdateAck, kSoundBeginTimeoutMs, [](msg::Message&) {});
}

int Device::WriteDataBlock(const unsigned char* data, std::uint32_t offset, std::uint16_t length) {
    if (length > msg::DataFragmentMessage::kMaxDataLength)
        return result::kTooLong;
    msg::DataFragmentMessage request;
    request.setOffset(offset);
    request.setLength(length);
    msg::Block copy(new unsigned char[length ? length : 1]);
    if (length)
        std::memcpy(copy.get(), data, length);
    request.setData(std::move(copy));
    return exchange(request, msg::type::DataFragmentAck, kNormalLimit, [](msg::Message&) {});
}

int Device::CheckDataCrc(std::uint32_t crc, std::uint32_t byteCount) {
    msg::CommitUpdateMessage request;
    request.setByteCount(byteCount);
    request.setCrc(crc);
    return exchange(request, msg::type::CommitUpdateAck, kNormalLimit, [](msg::Message&) {});
}

int Device::StartCalibration(std::int16_t value1, std::int16_t value2) {
    msg::StartCalibrationMessage request(value1, value2);
    return exchange(request, msg::type::IdInfo, kNormalLimit, [](msg::Message&) {});
}

int Device::ReadDiagnostics(unsigned char (&block)[24]) {
    msg::ReqDiagnosticMessage request;
    unsigned char copy[24];
    const int code = exchange(request, msg::type::Diagnostic, kNormalLimit,
                              [&](msg::Message& m) { static_cast<msg::DiagnosticMessage&>(m).copyTo(copy); });
    if (code == result::kOk)
        std::memcpy(block, copy, sizeof copy);
    return code;
}

int Device::RestartDevice() {
    msg::RestartMessage request;
    Traced traced(*this, request.type()); // no reply is awaited
    if (!port->open()) {
        if (port->openProblem())
            notices_.push_back(*port->openProblem());
        return traced.end(result::kPortFailed);
    }
    const bool sent = sendRequest(request, replyTimeout);
    port->close();
    return traced.end(sent ? result::kOk : result::kNoReply);
}

int Device::ParseVersionInfo(DeviceInfo& info, const char* text) {
    info = parseVersionText(text);
    return 1;
}
