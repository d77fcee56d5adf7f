#pragma once
// The sound bank update: confirmation, the begin request (the controller may
// take 20 s to prepare), the bank byte for byte in 1024-byte blocks one per
// sound tick, and the CRC commit. Started again while it runs, the new job
// takes over and this one ends without sending more.
#include "Job.h"
#include "Upload.h"

namespace jobs {

class SoundJob : public Job {
public:
    // bank is borrowed and must outlive the job.
    SoundJob(JobHost& host, DevicePtr device, const SoundBank& bank);
    ~SoundJob() override;

    // From the confirmation to the tick that finishes: the button says "Стоп".
    bool active() const { return active_; }

protected:
    std::optional<Exchange> step(int result) override;

private:
    std::optional<Exchange> nextBlock();
    std::optional<Exchange> stop(Outcome outcome);

    enum class State { Start, Begin, Block, Finish, Commit } state_ = State::Start;
    const SoundBank& bank_;
    std::optional<UploadStepper> upload_;
    int bar_ = 0;
    bool active_ = false;
};

} // namespace jobs
