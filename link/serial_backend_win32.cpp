// Win32 serial backend: the Windows serial communications API, synchronous I/O.
#include "PortPath.h"
#include "SerialBackend.h"

#include <windows.h>
#include <timeapi.h>

std::string portAliasDir() { return {}; }

std::string devicePath(const std::string& name) { return "\\\\.\\" + name; }

namespace {

class Win32SerialBackend final : public SerialBackend {
public:
    ~Win32SerialBackend() override { close(); }

    bool open(const std::string& name) override {
        HANDLE h = ::CreateFileA(devicePath(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return false;
        // Bytes from before this exchange are never a reply to it.
        ::PurgeComm(h, PURGE_RXCLEAR | PURGE_RXABORT);
        handle_ = h;
        // Sleep(1) really sleeps about 1 ms only with a 1 ms timer period; the
        // paced waits below rely on it while the port is open.
        periodSet_ = ::timeBeginPeriod(1) == TIMERR_NOERROR;
        return true;
    }

    bool isOpen() const override { return handle_ != nullptr; }

    void close() override {
        if (handle_) {
            ::CloseHandle(handle_);
            handle_ = nullptr;
        }
        if (periodSet_) {
            ::timeEndPeriod(1);
            periodSet_ = false;
        }
    }

    bool readSettings() override {
        dcb_ = DCB{};
        dcb_.DCBlength = sizeof dcb_;
        return ::GetCommState(handle_, &dcb_) != 0;
    }

    bool applySettings(const SerialLineSettings& s) override {
        // Only these five fields; everything else stays as the driver reported it.
        dcb_.BaudRate = s.baudRate;
        dcb_.ByteSize = static_cast<BYTE>(s.byteSize);
        dcb_.Parity = static_cast<BYTE>(s.parity);
        dcb_.StopBits = static_cast<BYTE>(s.stopBits);
        dcb_.fRtsControl = RTS_CONTROL_ENABLE;
        return ::SetCommState(handle_, &dcb_) != 0;
    }

    bool applyTimeouts(const SerialTimeouts& t) override {
        COMMTIMEOUTS c{};
        ::GetCommTimeouts(handle_, &c);
        c.ReadIntervalTimeout = t.readInterval;
        c.ReadTotalTimeoutMultiplier = t.readMultiplier;
        c.ReadTotalTimeoutConstant = t.readConstant;
        c.WriteTotalTimeoutMultiplier = t.writeMultiplier;
        c.WriteTotalTimeoutConstant = t.writeConstant;
        return ::SetCommTimeouts(handle_, &c) != 0;
    }

    bool queueCounts(int& input, int& output) override {
        DWORD errors = 0;
        COMSTAT stat{};
        if (!::ClearCommError(handle_, &errors, &stat))
            return false;
        input = static_cast<int>(stat.cbInQue);
        output = static_cast<int>(stat.cbOutQue);
        return true;
    }

    int write(const void* data, int count) override {
        DWORD written = 0;
        ::WriteFile(handle_, data, static_cast<DWORD>(count), &written, nullptr);
        return static_cast<int>(written);
    }

    int read(void* buffer, int count) override {
        DWORD got = 0;
        ::ReadFile(handle_, buffer, static_cast<DWORD>(count), &got, nullptr);
        return static_cast<int>(got);
    }

    // The synchronous, exclusive handle cannot be waited on for "bytes arrived"
    // without overlapped I/O, so poll the queue counts at a 1 ms pace: a few
    // hundred cheap calls a second instead of a spinning core.
    bool waitForInput(int moreThan, int timeoutMs) override {
        const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(timeoutMs > 0 ? timeoutMs : 0);
        for (;;) {
            int in = 0, out = 0;
            if (queueCounts(in, out) && in > moreThan)
                return true;
            if (::GetTickCount64() >= deadline)
                return false;
            ::Sleep(1);
        }
    }

    void waitForOutput(int timeoutMs) override {
        if (timeoutMs > 0)
            ::Sleep(1);
    }

private:
    HANDLE handle_ = nullptr;
    bool periodSet_ = false;
    DCB dcb_{};
};

} // namespace

std::unique_ptr<SerialBackend> makePlatformSerialBackend() {
    return std::make_unique<Win32SerialBackend>();
}
