#pragma once
// A settings text written to the controller (the editor's Send, z58ctl
// write-settings): a text longer than the controller takes refused before
// anything is asked or sent, asked first where the window asks, the controller's own
// settings read and backed up, the change list against them as the last
// confirmation (rows can be left out), one write, then read back: done only
// when all that was sent was kept.
#include "Job.h"
#include "ParameterList.h"
#include "SettingsChoice.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace jobs {

class SettingsWriteJob : public Job {
public:
    std::optional<journal::JobKind> recordKind() const override { return journal::JobKind::SettingsWrite; }
    struct Options {
        bool confirm = true;     // "Записать настройки в устройство?" first
        bool backup = true;
        bool offerTake = false;  // not all kept: ask whether the editor takes what the controller kept
        bool choose = false;    // the change list as the last confirmation (the window)
        // Keys whose controller values stay (their rows start unchecked).
        std::vector<std::string> keep;
        // The text came from a file: unless the file is a backup of this very
        // controller (fileSerial, from its name) or writeOwner is set, the
        // owner's values are kept (in the window their rows start unchecked).
        bool fromFile = false;
        std::optional<std::uint32_t> fileSerial;
        bool writeOwner = false;
        // What the list compares against when the controller's settings could not be read.
        std::string lastLoad;
    };
    // model: the description the read-back is compared by (borrowed).
    SettingsWriteJob(JobHost& host, const ParameterList& model, std::string text, Options options);

    const std::string& backupPath() const { return backup_; }
    // Not all kept and the user chose so: the controller's settings for the editor.
    const std::string* keptForEditor() const { return take_ ? &kept_ : nullptr; }
    // The text that was sent (rows left out at the controller's values).
    const std::string& sentText() const { return text_; }
    // What the controller held when read back after the write (empty: not read).
    const std::string& readBack() const { return readBack_; }
    // Rows of the change list that were left out.
    std::size_t leftOut() const { return leftOut_; }

protected:
    std::optional<Work> step(int result) override;

private:
    std::optional<Work> chooseAndWrite();
    bool ownerMayBeKept() const { return options_.fromFile && !options_.writeOwner; }

    enum class State { Start, Backup, Read, Serial, Write, Verify } state_ = State::Start;
    const ParameterList& model_;
    std::string text_, backup_, kept_, readBack_;
    Options options_;
    bool take_ = false;
    std::optional<std::string> controller_;
    std::optional<std::uint32_t> serial_;
    std::string read_;
    std::uint32_t readSerial_ = 0;
    std::size_t leftOut_ = 0;
};

} // namespace jobs
