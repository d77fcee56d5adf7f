#pragma once
// The firmware update: confirmation, version comparison, a backup of the
// settings, the begin request, the image in 1024-byte blocks one per firmware
// tick, the CRC commit, the restart offer and, once the controller answers
// again after the restart, the offer to put the saved settings back.
#include "ParameterList.h"
#include "UploadJob.h"

#include <atomic>
#include <functional>
#include <memory>

namespace jobs {

class FirmwareJob : public UploadJob {
public:
    struct Options {
        bool backup = true;
        // The window offers the saved settings back after the restart; the
        // terminal names the command that does it.
        bool offerRestore = true;
        // Another model's image can brick a controller: a type that differs is
        // asked about first. false: it was answered yes beforehand (z58ctl --other-type).
        bool askOtherType = true;
        // How long the controller may take to answer again after its restart
        // before the saved settings are offered (it is back within seconds).
        std::uint32_t backAfterRestartMs = 30000;
        // Where the controller is looked for once it restarted, in place of its
        // own port (a series: its serial number on whichever port it comes back).
        // Runs on the executor's thread; gives the firmware version found
        // (Windows-1251) or the failure's result code, and ends early once dropped.
        std::function<int(DeviceInterface& device, std::string& firmwareVersion, const std::atomic<bool>& dropped)>
            findBack;
    };
    // image: the carried firmware resource, checked before anything is asked or
    // sent; model (the description a restore is verified by) is borrowed.
    FirmwareJob(JobHost& host, Carried image, const ParameterList& model, Options options);

    // From the begin request to the tick that finishes: the button stays off.
    bool uploading() const { return uploading_; }

    // Restarted, it waits for the controller to answer again.
    bool awaitingBack() const { return state_ == State::Back; }
    // The version the controller reported once it was back (empty: not read).
    const std::string& versionAfter() const { return versionAfter_; }
    std::optional<journal::JobKind> recordKind() const override { return journal::JobKind::Firmware; }

protected:
    std::optional<Work> step(int result) override;
    void interrupted() override;

private:
    std::optional<Work> stop(Outcome outcome);
    // Asks until the controller answers again (it restarts for a few seconds).
    std::optional<Work> awaitBack();

    enum class State { Start, Version, Backup, Begin, Block, Finish, Commit, Restart, Back, Restore } state_ = State::Start;
    Carried carried_;
    FirmwareImage image_;
    const ParameterList& model_;
    Options options_;
    std::string version_, backup_, versionAfter_;
    // Set when the job is dropped: the wait for the controller ends at once.
    std::shared_ptr<std::atomic<bool>> dropped_ = std::make_shared<std::atomic<bool>>(false);
    bool uploading_ = false, restartFailed_ = false;
};

} // namespace jobs
