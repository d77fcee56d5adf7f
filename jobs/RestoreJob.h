#pragma once
// After a firmware update: the settings saved before it offered back, and
// written only with the user's OK.
#include "Job.h"

namespace jobs {

class RestoreJob : public Job {
public:
    RestoreJob(JobHost& host, DevicePtr device, std::string backupPath);

protected:
    std::optional<Exchange> step(int result) override;

private:
    enum class State { Start, Write } state_ = State::Start;
    std::string path_, text_;
};

} // namespace jobs
