#pragma once
// The search for the controller's port (COM2..COM254): one long piece of work
// that the user can cancel; what answered is reported (the program remembers
// the port it found), and when nothing did, each present port that cannot be
// used says why. Ports another runner holds are left alone.
#include "Job.h"

#include <vector>

namespace jobs {

class PortSearchJob : public Job {
public:
    PortSearchJob(JobHost& host) : Job(host) {}

    // The port the controller answered on (empty until found).
    const std::string& foundPort() const { return found_; }

protected:
    std::optional<Work> step(int result) override;

private:
    bool started_ = false;
    std::string report_, found_;
    std::vector<std::string> problems_;  // filled on the exchange thread
};

} // namespace jobs
