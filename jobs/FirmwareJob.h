#pragma once
// The firmware update: confirmation, version comparison, a backup of the
// settings, the begin request, the image in 1024-byte blocks one per firmware
// tick, the CRC commit, the restart offer and, after the restart, the offer to
// put the saved settings back.
#include "ParameterList.h"
#include "UploadJob.h"

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
    };
    // image and model (the description a restore is verified by) are borrowed
    // and must outlive the job.
    FirmwareJob(JobHost& host, DevicePtr device, const FirmwareImage& image, const ParameterList& model, Options options);

    // From the begin request to the tick that finishes: the button stays off.
    bool uploading() const { return uploading_; }

protected:
    std::optional<Exchange> step(int result) override;

private:
    std::optional<Exchange> stop(Outcome outcome);

    enum class State { Start, Version, Backup, Begin, Block, Finish, Commit, Restart, Restore } state_ = State::Start;
    const FirmwareImage& image_;
    const ParameterList& model_;
    Options options_;
    std::string version_, backup_;
    bool uploading_ = false, restartFailed_ = false;
};

} // namespace jobs
