#pragma once
// A service job as a step machine: each step runs on its runner's thread, talks
// to the host, and ends by asking for at most one piece of work on the
// controller. The runner has the work done by its executor and hands the result
// back to resume(). A step never touches the device itself: the device is the
// work's, on the executor's thread, from the moment the work is asked for until
// its result is back; a step may only read what the work left for it.
#include "DeviceInterface.h"
#include "JobHost.h"
#include "JobRecord.h"
#include "Work.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class ExchangeTrace;

namespace jobs {

class BackupJob;
class UploadSlot;

enum class Outcome {
    Running,
    Done,         // did what it was asked
    Failed,       // the controller or a file failed; the host was told
    Declined,     // the user said no (or could not be asked) before anything was changed
    Refused,      // the input cannot be sent (a settings text too long): nothing was sent
    Interrupted,  // dropped by its runner (the window closed, another job took over)
};

// A failure as the terminal says it: the operation and what its result code
// means (or the box's text when there is no code).
std::string failureReason(const Failure& failure);

// A job's outcome as the journal names it: Refused (nothing could be sent) is a failure.
journal::JobOutcome recordOutcome(Outcome outcome);

using DevicePtr = std::shared_ptr<DeviceInterface>;

// A job's journal record as lent to it when it starts (see JobJournal): the
// job and its children fill record; settle writes its end (once: a later
// call changes nothing).
struct Recording {
    journal::JobRecord* record = nullptr;  // null: the job is not recorded
    std::function<void(journal::JobOutcome, int code, const std::string& reason)> settle;
};

// What a job runs on, lent by its runner when the job starts: the runner's
// controller at that moment, its upload slot and its trace.
struct JobContext {
    DevicePtr device;
    UploadSlot* uploads = nullptr;
    const ExchangeTrace* trace = nullptr;
    // Another runner of this program has the port open: never open it here.
    std::function<bool(const std::string&)> portInUse;
    Recording recording;
    bool inner = false;  // lent to a child job: its end is not the job's
};

class Job {
public:
    explicit Job(JobHost& host) : host_(host) {}
    virtual ~Job() = default;
    Job(const Job&) = delete;
    Job& operator=(const Job&) = delete;

    // Runs the first steps; the work to do next, or none: the job has ended.
    std::optional<Work> start(JobContext context);
    // The result of the work asked for last (a code of 0 for a tick without work).
    std::optional<Work> resume(const WorkResult& result);
    // The runner dropped it: no further step; it ends Interrupted.
    void interrupt();
    // A step failed in a way no job foresaw (an exception): it ends Failed.
    void abort();

    Outcome outcome() const { return outcome_; }
    bool running() const { return outcome_ == Outcome::Running; }
    const DevicePtr& device() const { return device_; }
    JobHost& host() const { return host_; }
    // What the journal records this job as; none: not recorded (information reads).
    virtual std::optional<journal::JobKind> recordKind() const { return std::nullopt; }

protected:
    // One step: the result code of the last work (0 at the start and after a
    // child job ended). Returns the next work or end(...).
    virtual std::optional<Work> step(int result) = 0;
    // Dropped: let go of what the job holds (the upload slot).
    virtual void interrupted() {}
    std::optional<Work> end(Outcome outcome);
    // Runs another job inside this one (same host and context); step() is
    // called with 0 when it has ended, and finishedChild() tells how.
    std::optional<Work> enter(std::unique_ptr<Job> child);
    const Job* finishedChild() const { return finished_.get(); }
    // The controller's settings backed up before an overwrite, as a child job
    // (wanted false: the next step at once); finishedBackup() then tells how it
    // went, or is null when none was taken.
    std::optional<Work> backUpFirst(bool wanted);
    const BackupJob* finishedBackup() const;
    // One operation of the device, run by the executor.
    Work call(std::function<int(DeviceInterface&)> op, std::uint32_t limitMs, Pace pace = Pace::Now);
    // Why the port of the last failed work cannot be used, where the OS tells
    // (UTF-8, may be empty).
    const std::string& portWhy() const { return why_; }
    const JobContext& context() const { return context_; }

    // The record this job (or the job it runs in) fills; null when none.
    journal::JobRecord* record() const { return context_.recording.record; }
    // Writes the record's end before the job's last message, so a program
    // killed while that message is up leaves it complete. Only the job the
    // runner started settles; a child's call does nothing. end() settles what
    // was not settled yet.
    void settle(Outcome outcome, int code = 0, const std::string& reason = {});
    // The same from a child whose failure always ends the job it runs in.
    void settleJob(Outcome outcome, int code = 0, const std::string& reason = {});
    // A failure told to the host, its code and reason noted for the record;
    // last: the job's last message, settled first (the job ends Failed).
    void failing(const Failure& failure, bool last = true);
    // The same, and the job ends.
    std::optional<Work> failWith(const Failure& failure, Outcome outcome = Outcome::Failed);
    // The last message of a job that did what it was asked.
    std::optional<Work> doneWith(const Notice& notice);
    // What the controller said about itself during the job.
    void noteSerial(std::uint32_t serial);
    void noteVersion(const std::string& versionText);

    JobHost& host_;
    DevicePtr device_;

private:
    std::optional<Work> afterChild(std::optional<Work> next);

    JobContext context_;
    Outcome outcome_ = Outcome::Running;
    std::unique_ptr<Job> child_, finished_;
    std::string why_;
};

} // namespace jobs
