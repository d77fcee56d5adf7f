#pragma once
// A settings write is done only when the controller keeps it: the settings are
// read back and compared with what was sent. Done: all kept. Failed: a
// parameter was not kept (each said, in the box and the log) or the read-back
// did not come; nothing then claims success.
#include "Job.h"
#include "ParameterList.h"
#include "SettingsVerify.h"

namespace jobs {

class VerifyJob : public Job {
public:
    // offerTake: ask whether the editor takes the controller's values.
    VerifyJob(JobHost& host, const ParameterList& model, std::string sent, bool offerTake);

    const std::vector<UnkeptSetting>& unkept() const { return unkept_; }
    // What the controller holds now (read back), and whether the user wants it in the editor.
    const std::string& kept() const { return kept_; }
    bool takeKept() const { return take_; }

protected:
    std::optional<Work> step(int result) override;

private:
    const ParameterList& model_;
    std::string sent_, kept_;
    bool offerTake_, take_ = false, started_ = false;
    std::vector<UnkeptSetting> unkept_;
};

} // namespace jobs
