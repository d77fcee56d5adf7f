#pragma once
// The controller's settings saved in the backups folder: its settings and
// serial number read, one file written. Before an overwrite a failed backup
// asks whether to go on without it (declined: nothing more is sent); on its own
// (z58ctl backup) a failure is the job's failure and the path is its result.
#include "Job.h"

#include <cstdint>
#include <optional>
#include <string>

namespace jobs {

class BackupJob : public Job {
public:
    enum class Mode { BeforeOverwrite, Standalone };
    BackupJob(JobHost& host, Mode mode);
    // One taken before an overwrite is part of that job's record.
    std::optional<journal::JobKind> recordKind() const override {
        return mode_ == Mode::Standalone ? std::optional<journal::JobKind>(journal::JobKind::Backup) : std::nullopt;
    }

    // The file written; empty when there is none (failed, or going on without).
    const std::string& path() const { return path_; }
    // What was read on the way, also when the file could not be written: the
    // write that follows compares against it instead of reading again.
    const std::optional<std::string>& settings() const { return settings_; }
    const std::optional<std::uint32_t>& serial() const { return serialRead_; }

protected:
    std::optional<Work> step(int result) override;

private:
    std::optional<Work> failedBackup(const std::string& forWindow, const std::string& forTerminal,
                                         const char* what, int code);

    enum class State { Start, ReadSettings, ReadSerial } state_ = State::Start;
    Mode mode_;
    std::string text_, path_;
    std::uint32_t serial_ = 0;
    std::optional<std::string> settings_;
    std::optional<std::uint32_t> serialRead_;
};

} // namespace jobs
