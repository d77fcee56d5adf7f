#include "JobRecord.h"

#include "RecordId.h"
#include "Timestamp.h"
#include "Workstation.h"

#include <filesystem>
#include <iterator>

namespace journal {

namespace {

constexpr const char* kKindNames[] = {"settings-read", "settings-write", "restore", "backup",
                                      "firmware",      "sound",          "report"};
constexpr const char* kOutcomeNames[] = {"done", "failed", "declined", "interrupted"};
static_assert(std::size(kKindNames) == std::size(kAllKinds), "a name for every kind");
static_assert(std::size(kOutcomeNames) == std::size(kAllOutcomes), "a name for every outcome");

} // namespace

const char* kindName(JobKind kind) { return kKindNames[static_cast<int>(kind)]; }

std::optional<JobKind> kindFromName(const std::string& name) {
    for (JobKind k : kAllKinds)
        if (name == kindName(k))
            return k;
    return std::nullopt;
}

const char* outcomeName(JobOutcome outcome) { return kOutcomeNames[static_cast<int>(outcome)]; }

std::optional<JobOutcome> outcomeFromName(const std::string& name) {
    for (JobOutcome o : kAllOutcomes)
        if (name == outcomeName(o))
            return o;
    return std::nullopt;
}

Workplace Workplace::here(const std::string& program) { return {pcName(), osUserName(), program, Z58_VERSION}; }

JobRecord newRecord(JobKind kind, const Workplace& where, const std::string& port, Clock::time_point now) {
    JobRecord r;
    r.id = newRecordId();
    r.started = timestampText(now);
    r.pc = where.pc;
    r.user = where.user;
    r.program = where.program;
    r.version = where.version;
    r.port = port;
    r.kind = kind;
    r.outcome = JobOutcome::Interrupted;
    return r;
}

void finishRecord(JobRecord& record, JobOutcome outcome, int code, const std::string& reason, Clock::time_point now) {
    record.outcome = outcome;
    record.code = code;
    record.reason = reason;
    record.ended = timestampText(now);
    // Declined: nothing was put on it, there is no "after".
    if (record.kind == JobKind::Firmware && record.firmwareAfter.empty() && outcome != JobOutcome::Declined)
        record.firmwareAfter = kNotRead;
}

void noteBackup(JobRecord& record, const std::string& path, const std::string& settingsText) {
    record.backupText = settingsText;
    record.backupFile = std::filesystem::u8path(path).filename().u8string();
}

} // namespace journal
