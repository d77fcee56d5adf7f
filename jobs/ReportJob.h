#pragma once
// Gathers the support report and saves it: the controller's identity,
// diagnostics and settings (when it answers; when it does not, the report says
// so and goes on without it), the port checks, the trace, then the file.
#include "Job.h"
#include "SupportReport.h"

#include <optional>
#include <string>
#include <vector>

namespace jobs {

class ReportJob : public Job {
public:
    std::optional<journal::JobKind> recordKind() const override { return journal::JobKind::Report; }
    struct Context {
        std::string madeBy;                           // "Z58 Service Tool", "z58ctl"
        std::string qt;                               // empty for z58ctl
        std::optional<std::vector<std::string>> log;  // the main window's log
    };
    ReportJob(JobHost& host, const ParameterList& model, std::string path, Context context);

    // The page as saved (for tests and the terminal).
    const std::string& html() const { return html_; }

protected:
    std::optional<Work> step(int result) override;

private:
    std::optional<Work> gatherPorts();
    std::optional<Work> save();

    enum Stage { Version, Serial, Diagnostics, Settings, Ports, Done };
    Stage stage_ = Version;
    bool started_ = false;
    const ParameterList& model_;
    std::string path_;
    Context context_;
    ReportFacts facts_;
    std::string version_;
    std::uint32_t serial_ = 0;
    unsigned char diagnostics_[24] = {};
    std::string settings_;
    std::string html_;
};

} // namespace jobs
