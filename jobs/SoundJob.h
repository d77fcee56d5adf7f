#pragma once
// The sound bank update: confirmation, the begin request (the controller may
// take 20 s to prepare), the bank byte for byte in 1024-byte blocks one per
// sound tick, and the CRC commit. Started again while it runs, the new job
// takes over and this one ends without sending more.
#include "UploadJob.h"

namespace jobs {

class SoundJob : public UploadJob {
public:
    std::optional<journal::JobKind> recordKind() const override { return journal::JobKind::Sound; }
    // bank: the carried sound bank, checked before anything is asked or sent.
    SoundJob(JobHost& host, Carried bank);

    // From the confirmation to the tick that finishes: the button says "Стоп".
    bool active() const { return active_; }

protected:
    std::optional<Work> step(int result) override;
    void interrupted() override {
        active_ = false;
        UploadJob::interrupted();
    }

private:
    std::optional<Work> stop(Outcome outcome);

    enum class State { Start, Begin, Block, Finish, Commit } state_ = State::Start;
    Carried carried_;
    SoundBank bank_;
    bool active_ = false;
};

} // namespace jobs
