#pragma once
// The sound bank update: confirmation, the begin request (the controller may
// take 20 s to prepare), the bank byte for byte in 1024-byte blocks one per
// sound tick, and the CRC commit. Started again while it runs, the new job
// takes over and this one ends without sending more.
#include "UploadJob.h"

namespace jobs {

class SoundJob : public UploadJob {
public:
    // bank is borrowed and must outlive the job.
    SoundJob(JobHost& host, DevicePtr device, const SoundBank& bank);

    // From the confirmation to the tick that finishes: the button says "Стоп".
    bool active() const { return active_; }

protected:
    std::optional<Exchange> step(int result) override;

private:
    std::optional<Exchange> stop(Outcome outcome);

    enum class State { Start, Begin, Block, Finish, Commit } state_ = State::Start;
    const SoundBank& bank_;
    bool active_ = false;
};

} // namespace jobs
