#pragma once
// The quick jobs: one exchange each, what it read shown through the host (the
// window's log, the terminal's output) or kept for the program. Serial number,
// version, settings read, diagnostics and restart, written once for the window
// and z58ctl.
#include "DeviceInfo.h"
#include "Job.h"

#include <cstdint>
#include <string>

namespace jobs {

// One operation; a failure told with its texts, success handed to answered().
class OneCallJob : public Job {
public:
    struct Texts {
        const char* box;      // the window's box
        const char* caption;
        const char* what;     // the terminal's "what: reason (code)"
    };

protected:
    OneCallJob(JobHost& host, Texts texts) : Job(host), texts_(texts) {}
    virtual int operation(DeviceInterface& device) = 0;
    virtual void answered() = 0;
    std::optional<Work> step(int result) override;

private:
    Texts texts_;
    bool asked_ = false;
};

class SerialJob final : public OneCallJob {
public:
    explicit SerialJob(JobHost& host);
    std::uint32_t serial() const { return serial_; }

protected:
    int operation(DeviceInterface& device) override { return device.GetSerialNumber(serial_); }
    void answered() override;

private:
    std::uint32_t serial_ = 0;
};

class VersionJob final : public OneCallJob {
public:
    explicit VersionJob(JobHost& host);
    const DeviceInfo& info() const { return info_; }

protected:
    int operation(DeviceInterface& device) override { return device.GetVersionInfo(text_); }
    void answered() override;

private:
    std::string text_;
    DeviceInfo info_{};
};

// The controller's settings text (Windows-1251) for the program to load or save.
class ReadSettingsJob final : public OneCallJob {
public:
    explicit ReadSettingsJob(JobHost& host);
    const std::string& text() const { return text_; }
    std::optional<journal::JobKind> recordKind() const override { return journal::JobKind::SettingsRead; }

protected:
    int operation(DeviceInterface& device) override { return device.ReadSettings(text_); }
    void answered() override {}

private:
    std::string text_;
};

class DiagnosticsJob final : public OneCallJob {
public:
    explicit DiagnosticsJob(JobHost& host);

protected:
    int operation(DeviceInterface& device) override { return device.ReadDiagnostics(block_); }
    void answered() override;

private:
    unsigned char block_[24] = {};
};

class RestartJob final : public OneCallJob {
public:
    explicit RestartJob(JobHost& host);

protected:
    int operation(DeviceInterface& device) override { return device.RestartDevice(); }
    void answered() override {}
};

} // namespace jobs
