#pragma once
// One job's record for the job's runner: written as "interrupted" the moment
// the job starts, filled in memory as the job goes, completed when it ends.
// Neither write stops the job; the reason a job is not on record is handed out
// once, for the runner to tell the user once per job.
#include "JobRecord.h"
#include "JournalStore.h"

#include <string>

namespace journal {

class JobRecorder {
public:
    // Writes the record at once. store is borrowed and outlives the recorder.
    JobRecorder(JournalStore& store, JobRecord record);

    // The record to fill (serial, type, firmware, changes, backup...).
    JobRecord& record() { return record_; }
    const JobRecord& record() const { return record_; }

    // Finishes the record (see finishRecord) and writes it; false when it is
    // not on record. A second call does nothing and returns the first's result.
    bool complete(JobOutcome outcome, int code = 0, const std::string& reason = {});
    bool completed() const { return completed_; }

    // Why the job is not (or not wholly) on record, the first time it is
    // asked after a failed write; "" otherwise. A start that failed but a
    // completion that worked leaves nothing to tell.
    std::string takeProblem();

private:
    JournalStore& store_;
    JobRecord record_;
    bool completed_ = false, written_ = false, told_ = false;
    std::string problem_;
};

} // namespace journal
