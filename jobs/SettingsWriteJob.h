#pragma once
// A settings text written to the controller (the editor's Send, z58ctl
// write-settings): asked first where the window asks, the controller's own
// settings backed up, then one write.
#include "Job.h"

namespace jobs {

class SettingsWriteJob : public Job {
public:
    struct Options {
        bool confirm = true; // "Записать настройки в устройство?" first
        bool backup = true;
    };
    SettingsWriteJob(JobHost& host, DevicePtr device, std::string text, Options options);

    const std::string& backupPath() const { return backup_; }

protected:
    std::optional<Exchange> step(int result) override;

private:
    enum class State { Start, Backup, Write } state_ = State::Start;
    std::string text_, backup_;
    Options options_;
};

} // namespace jobs
