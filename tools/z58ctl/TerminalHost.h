#pragma once
// The jobs' host on a terminal: questions on stderr answered from stdin (or by
// --yes), remarks, log lines and failures on stderr, a job's result on stdout,
// and an upload's progress as one line that rewrites itself on a terminal (a
// line per tenth otherwise).
#include "Job.h"
#include "JobHost.h"

#include <chrono>

namespace cli {

struct Args;

class TerminalHost : public jobs::JobHost {
public:
    explicit TerminalHost(const Args& args);

    bool ask(const jobs::Question& question) override;
    void tell(const jobs::Notice& notice) override;
    void log(const std::string& line) override;
    void detail(const std::string& line) override;
    void failed(const jobs::Failure& failure) override;
    void progress(const jobs::Progress& progress) override;
    void reading(const jobs::Reading& reading) override;

    // The command's exit code for a job that ended so (a declined job says that
    // nothing was sent).
    int exitCode(jobs::Outcome outcome);

private:
    void say(const std::string& utf8Line);
    void endProgressLine();

    const Args& args_;
    bool tty_;
    bool lineOpen_ = false;
    int lastTenth_ = -1;
    std::chrono::steady_clock::time_point uploadStart_{};
};

// Runs a job to its end on the controller of --port (or the remembered port); the exit code.
int runJob(const Args& a, TerminalHost& host, std::shared_ptr<jobs::Job> job);

} // namespace cli
