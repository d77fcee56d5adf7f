#pragma once
// A settings text written to the controller (the editor's Send, z58ctl
// write-settings): asked first where the window asks, the controller's own
// settings backed up, one write, then read back: done only when all was kept.
#include "Job.h"
#include "ParameterList.h"

namespace jobs {

class SettingsWriteJob : public Job {
public:
    struct Options {
        bool confirm = true; // "Записать настройки в устройство?" first
        bool backup = true;
        bool offerTake = false; // not all kept: ask whether the editor takes what the controller kept
    };
    // model: the description the read-back is compared by (borrowed).
    SettingsWriteJob(JobHost& host, DevicePtr device, const ParameterList& model, std::string text, Options options);

    const std::string& backupPath() const { return backup_; }
    // Not all kept and the user chose so: the controller's settings for the editor.
    const std::string* keptForEditor() const { return take_ ? &kept_ : nullptr; }

protected:
    std::optional<Exchange> step(int result) override;

private:
    enum class State { Start, Backup, Write, Verify } state_ = State::Start;
    const ParameterList& model_;
    std::string text_, backup_, kept_;
    Options options_;
    bool take_ = false;
};

} // namespace jobs
