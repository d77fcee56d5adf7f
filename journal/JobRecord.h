#pragma once
// A service job's record: who serviced which controller where, what it did and
// how it ended. Made when the job starts, filled by the job, completed when it
// ends; the journal store writes it at both ends.
//
// Texts are UTF-8 (what the controller says is converted with cp1251::toUtf8
// when it is filled in), except backupText: the settings text of the backup as
// the controller gave it, Windows-1251 bytes kept exactly, for a restore.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace journal {

enum class JobKind { SettingsRead, SettingsWrite, Restore, Backup, Firmware, Sound, Report };
enum class JobOutcome { Done, Failed, Declined, Interrupted };

constexpr JobKind kAllKinds[] = {JobKind::SettingsRead, JobKind::SettingsWrite, JobKind::Restore, JobKind::Backup,
                                 JobKind::Firmware,     JobKind::Sound,         JobKind::Report};
constexpr JobOutcome kAllOutcomes[] = {JobOutcome::Done, JobOutcome::Failed, JobOutcome::Declined,
                                       JobOutcome::Interrupted};

// "settings-read", "settings-write", "restore", "backup", "firmware", "sound", "report".
const char* kindName(JobKind kind);
std::optional<JobKind> kindFromName(const std::string& name);
// "done", "failed", "declined", "interrupted".
const char* outcomeName(JobOutcome outcome);
std::optional<JobOutcome> outcomeFromName(const std::string& name);

// The firmware version after an update when the controller did not report one once back.
constexpr const char* kNotRead = "not read";

// One row of a settings write's change list as the user confirmed it. Values
// are UTF-8 and the owner's (PIN, phone numbers) masked; a value a text did not
// name is empty.
struct ChangeEntry {
    std::string key;
    std::string from;       // the controller's value
    std::string to;         // the value to write
    bool leftOut = false;   // the user left the row out: the controller keeps its value
    bool notKept = false;   // written, but the controller read back another value
    std::string keptValue;  // that value (notKept)

    bool operator==(const ChangeEntry& o) const {
        return key == o.key && from == o.from && to == o.to && leftOut == o.leftOut && notKept == o.notKept &&
               keptValue == o.keptValue;
    }
};

struct JobRecord {
    std::string id;        // random UUID v4, "xxxxxxxx-xxxx-4xxx-yxxx-xxxxxxxxxxxx": the key here and on a server
    int revision = 0;      // writes so far; the store counts it up at each write
    bool waiting = true;   // not yet sent to a workshop server at this revision (set by the store)
    std::string started;   // "2026-12-09T10:15:30.123+03:00", local time with its UTC offset
    std::string ended;     // the same form; empty until the job ended
    std::string pc;        // the computer's name
    std::string user;      // the OS user
    std::string program;   // "z58config", "z58ctl"
    std::string version;   // the program's version
    std::string port;      // as the user named it ("COM3", "/dev/ttyUSB0")
    std::optional<std::uint32_t> serial;  // as read during the job
    std::string deviceType;
    std::string firmwareBefore;
    std::string firmwareAfter;  // a firmware update: reported once back, or kNotRead
    JobKind kind = JobKind::SettingsRead;
    JobOutcome outcome = JobOutcome::Interrupted;
    int code = 0;            // the result code of a failure; 0: none
    std::string reason;      // why it failed, as the user was told
    std::vector<ChangeEntry> changes;  // a settings write's change list
    std::string backupText;  // the backup the job took, Windows-1251 exactly as saved; empty: none
    std::string backupFile;  // its file name in the backups folder
    std::string seriesId;    // the series the unit was serviced in; empty: none
    std::optional<int> unitNumber;  // the unit's number in that series
    // This PC's store only: the server's reason when it refused the record
    // often enough that it was set aside; empty otherwise.
    std::string refused;
};

// Who records: the same for every job of a program run.
struct Workplace {
    std::string pc, user, program, version;
    // This computer, this OS user, this build's version.
    static Workplace here(const std::string& program);
};

using Clock = std::chrono::system_clock;

// A record of a job starting now: a new id, the start time, outcome
// "interrupted" until the job ends. The id is empty when the OS gave no random
// bytes (the store then refuses to write it and says why).
JobRecord newRecord(JobKind kind, const Workplace& where, const std::string& port, Clock::time_point now = Clock::now());

// The job ended: its outcome, a failure's result code and reason, the end time.
// A firmware update with no version read once back gets kNotRead.
void finishRecord(JobRecord& record, JobOutcome outcome, int code = 0, const std::string& reason = {},
                  Clock::time_point now = Clock::now());

// The backup the job took: its settings text (Windows-1251, as saved) and its file's name.
void noteBackup(JobRecord& record, const std::string& path, const std::string& settingsText);

} // namespace journal
