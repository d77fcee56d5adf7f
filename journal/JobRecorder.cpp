#include "JobRecorder.h"

namespace journal {

JobRecorder::JobRecorder(JournalStore& store, JobRecord record) : store_(store), record_(std::move(record)) {
    if (!store_.write(record_))
        problem_ = store_.problem();
}

bool JobRecorder::complete(JobOutcome outcome, int code, const std::string& reason) {
    if (completed_)
        return written_;
    completed_ = true;
    finishRecord(record_, outcome, code, reason);
    written_ = store_.write(record_);
    problem_ = written_ ? std::string() : store_.problem();
    return written_;
}

std::string JobRecorder::takeProblem() {
    if (told_ || problem_.empty())
        return {};
    told_ = true;
    return problem_;
}

} // namespace journal
