#pragma once
// The service journal as the runners see it: when a recorded job starts, its
// record is written ("interrupted") and lent to the job, which fills it through
// its base as it learns (serial number, versions, change list, backup) and
// settles it before its last message; when the job ends without having settled
// (dropped, or no message), the end settles it here. One object serves every
// runner of a program; a journal that cannot be written never stops a job: the
// job's host is told once, in its log, that the job is not on record and why.
#include "Job.h"
#include "Runner.h"
#include "JobRecorder.h"
#include "JournalStore.h"

#include <functional>
#include <map>
#include <memory>
#include <string>

namespace jobs {

class JobJournal {
public:
    // The log line's start before the store's reason.
    static constexpr const char* kNotOnRecord = "Работа не записана в журнал обслуживания: ";

    // store is borrowed and outlives this object.
    JobJournal(journal::JournalStore& store, journal::Workplace where);
    ~JobJournal();

    // The runner, as job starts on port: the record to lend it (none for a job
    // that is not recorded); a series' unit is tagged so.
    Recording open(const Job& job, const std::string& port, const SeriesTag& series = {});
    // The runner, as job has ended (by itself, dropped, or aborted).
    void close(const Job& job);

    // Called after each write of a record (its start and its end), on the
    // runner's thread: the program's sync worker is told to send it.
    void setWritten(std::function<void()> written) { written_ = std::move(written); }

    journal::JournalStore& store() { return store_; }
    const journal::Workplace& workplace() const { return where_; }

private:
    void settle(const Job& job, journal::JobOutcome outcome, int code, const std::string& reason, bool tell);

    journal::JournalStore& store_;
    journal::Workplace where_;
    std::map<const Job*, std::unique_ptr<journal::JobRecorder>> open_;
    std::function<void()> written_;
};

} // namespace jobs
