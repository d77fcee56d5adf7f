#include "JobJournal.h"

namespace jobs {

JobJournal::JobJournal(journal::JournalStore& store, journal::Workplace where) : store_(store), where_(std::move(where)) {}

JobJournal::~JobJournal() {
    // A runner that outlived its journal would have closed its jobs by now;
    // what is still open ended with the program.
    for (auto& entry : open_)
        entry.second->complete(journal::JobOutcome::Interrupted);
}

Recording JobJournal::open(const Job& job, const std::string& port, const SeriesTag& series) {
    const std::optional<journal::JobKind> kind = job.recordKind();
    if (!kind)
        return {};
    journal::JobRecord record = journal::newRecord(*kind, where_, port);
    if (!series.id.empty()) {
        record.seriesId = series.id;
        record.unitNumber = series.unit;
        // The job notes them again as it reads them.
        record.serial = series.serial;
        record.deviceType = series.deviceType;
        record.firmwareBefore = series.firmware;
    }
    auto recorder = std::make_unique<journal::JobRecorder>(store_, std::move(record));
    Recording recording;
    recording.record = &recorder->record();
    recording.settle = [this, &job](journal::JobOutcome outcome, int code, const std::string& reason) {
        settle(job, outcome, code, reason, true);
    };
    open_[&job] = std::move(recorder);
    if (written_)
        written_();
    return recording;
}

void JobJournal::settle(const Job& job, journal::JobOutcome outcome, int code, const std::string& reason, bool tell) {
    const auto it = open_.find(&job);
    if (it == open_.end() || it->second->completed())
        return;
    // A failure told earlier (a child's, or not the last message) is the reason.
    if (outcome == journal::JobOutcome::Failed && code == 0 && reason.empty()) {
        const journal::JobRecord noted = it->second->record();
        it->second->complete(outcome, noted.code, noted.reason);
    } else
        it->second->complete(outcome, code, reason);
    if (written_)
        written_();
    // Said once, where the job's other lines go: the job itself goes on.
    if (const std::string problem = it->second->takeProblem(); tell && !problem.empty())
        job.host().log(std::string(kNotOnRecord) + problem);
}

void JobJournal::close(const Job& job) {
    const auto it = open_.find(&job);
    if (it == open_.end())
        return;
    // A dropped job's window may be going: nothing more is said to it.
    settle(job, recordOutcome(job.outcome()), 0, {}, job.outcome() != Outcome::Interrupted);
    open_.erase(it);
}

} // namespace jobs
