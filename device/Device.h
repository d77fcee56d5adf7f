#pragma once
// Device: a handle on the controller at one port. Each operation is one
// exchange: open the port, send one request, wait for one reply of the expected
// type within a time limit, take the result, close the port, return a result code.
// One thread at a time: its reply buffer serves one wait at a time. Each device
// has its own, so two controllers on two ports never share one.
#include "Clock.h"
#include "DeviceInterface.h"
#include "ExchangeTrace.h"
#include "Frame.h"
#include "Message.h"
#include "ResultCode.h"

#include <atomic>
#include <functional>

class VCOM_Port;

// The reply being assembled.
struct PendingReply {
    std::uint32_t waitStart = 0;
    std::uint16_t remaining = 0;
    std::uint16_t replyLength = 0;
    std::int16_t replyType = 0;
    unsigned char* writePos = nullptr;
    unsigned char replyBuffer[frame::kReplyBufferSize] = {};
};

constexpr std::uint32_t kReplyTimeoutMs = 4000;
constexpr std::uint32_t kFirmwareBeginTimeoutMs = 10000;
constexpr std::uint32_t kSoundBeginTimeoutMs = 20000;
// A wait that can be cancelled looks at its flag at least this often.
constexpr int kCancelCheckMs = 50;
// The port search tries COM2 up to this number.
constexpr int kLastSearchedPort = 254;

class Device : public DeviceInterface {
public:
    enum ReceiveState : std::int32_t { Idle = 0, AwaitHeader = 1, ReadPayload = 2, AwaitTrailer = 3, Complete = 4 };

    // trace: where each exchange is noted when it ends (null: nowhere).
    explicit Device(const std::string& portName, ExchangeTrace* trace = nullptr, MonotonicClock& clock = systemClock());
    // For tests: a port with a scripted backend.
    Device(std::unique_ptr<VCOM_Port> port, MonotonicClock& clock, ExchangeTrace* trace = nullptr);
    ~Device() override;

    void SetPortName(const std::string& name) override;
    int ReadSettings(std::string& text) override;
    int WriteSettings(const std::string& text) override;
    int GetSerialNumber(std::uint32_t& serial) override;
    int SetSerialNumber(std::uint32_t serial) override;
    int GetVersionInfo(std::string& text) override;
    int BeginFirmwareUpdate() override;
    int BeginSoundUpdate() override;
    int WriteDataBlock(const unsigned char* data, std::uint32_t offset, std::uint16_t length) override;
    int CheckDataCrc(std::uint32_t crc, std::uint32_t byteCount) override;
    int StartCalibration(std::int16_t value1, std::int16_t value2) override;
    int ReadDiagnostics(unsigned char (&block)[24]) override;
    int RestartDevice() override;
    int ParseVersionInfo(DeviceInfo& info, const char* text) override;
    bool FindDevicePort(std::string& report) override;
    const std::string& PortName() const override { return portName(); }
    void SetCancelFlag(const std::atomic<bool>* flag) override { cancel_ = flag; }
    void SetSearchObserver(std::function<void(const std::string&)> observer) override {
        searchObserver_ = std::move(observer);
    }
    void SetPortsInUse(std::function<bool(const std::string&)> inUse) override { portsInUse_ = std::move(inUse); }
    std::vector<PortNotice> TakePortNotices() override;

    void SetReplyTimeout(std::uint32_t ms) { replyTimeout = ms; }
    std::uint32_t ReplyTimeout() const { return replyTimeout; }
    void ResetReceive() { receiveState = Idle; }
    // Collects one reply frame; 1 with the reply when it has the expected type,
    // -2 on time-out, -3 when unusable or of another type. Sleeps on the port
    // while nothing arrives.
    int WaitReply(std::unique_ptr<sorka::kbt::messages::Message>& reply, std::int16_t expectedType);

    const std::string& portName() const;

private:
    // One exchange: send request, wait for expectedType, hand the reply to take,
    // close the port. longLimit (0: none) replaces replyTimeout for this wait and
    // is set back to kReplyTimeoutMs afterwards. The limit also bounds the send.
    template <class Take>
    int exchange(sorka::kbt::messages::Message& request, std::int16_t expectedType, std::uint32_t longLimit, Take take);
    // Sends until complete; false when a write came up short or the limit passed.
    bool sendRequest(sorka::kbt::messages::Message& request, std::uint32_t limit);

    std::unique_ptr<VCOM_Port> port;
    std::int32_t receiveState = Idle;
    std::uint32_t replyTimeout = kReplyTimeoutMs;
    bool cancelled() const { return cancel_ && cancel_->load(); }

    MonotonicClock& clock_;
    ExchangeTrace* trace_;
    PendingReply reply_;
    const std::atomic<bool>* cancel_ = nullptr;
    std::function<void(const std::string&)> searchObserver_;
    std::function<bool(const std::string&)> portsInUse_;
    std::vector<PortNotice> notices_;

    // Notes one exchange in the trace when it ends.
    class Traced {
    public:
        Traced(Device& device, std::int16_t request);
        int end(int result);

    private:
        Device& device_;
        TraceEntry entry_;
        std::uint32_t started_ = 0;
    };
    std::uint32_t sent_ = 0, received_ = 0;  // bytes of the current exchange
    std::int16_t replyType_ = -1;
};
