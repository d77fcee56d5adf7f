#pragma once
// After a firmware update: the settings saved before it offered back, written
// only with the user's OK, and read back: restored only when all was kept.
#include "Job.h"
#include "ParameterList.h"

namespace jobs {

class RestoreJob : public Job {
public:
    std::optional<journal::JobKind> recordKind() const override { return journal::JobKind::Restore; }
    RestoreJob(JobHost& host, const ParameterList& model, std::string backupPath);

protected:
    std::optional<Work> step(int result) override;

private:
    enum class State { Start, Write, Verify } state_ = State::Start;
    const ParameterList& model_;
    std::string path_, text_;
};

} // namespace jobs
