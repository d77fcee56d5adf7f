#pragma once
// The search for the controller's port (COM2..COM254): one long exchange that
// the user can cancel; what answered is reported and remembered, and when
// nothing did, each present port that cannot be used says why.
#include "Job.h"

#include <vector>

namespace jobs {

class PortSearchJob : public Job {
public:
    PortSearchJob(JobHost& host, DevicePtr device) : Job(host, std::move(device)) {}

protected:
    std::optional<Exchange> step(int result) override;

private:
    bool started_ = false;
    std::string report_;
    std::vector<std::string> problems_;  // filled on the exchange thread
};

} // namespace jobs
