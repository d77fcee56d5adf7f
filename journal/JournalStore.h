#pragma once
// The service journal on this PC: one SQLite file (journal.sqlite in the data
// folder, mode 0600 on POSIX) that the desktop program and z58ctl write at the
// same time. Every write is one transaction, so a program killed at any moment
// leaves whole records. It never throws and never replaces or deletes the
// file: what it cannot do, problem() says, for the user.
// One object may be shared between threads (calls take turns); several
// objects and processes on one file wait for each other up to kBusyTimeoutMs.
#include "JobRecord.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace journal {

struct RecordFilter {
    std::optional<std::uint32_t> serial;
    std::optional<JobKind> kind;
    std::optional<JobOutcome> outcome;
    std::string since, until; // local dates of the start, "YYYY-MM-DD", both included; empty: open
    bool waitingOnly = false; // only records waiting to be sent to a workshop server (not those set aside)
    bool unsentOnly = false;  // only those the server lacks at their revision: waiting or set aside
    std::size_t limit = 0;    // the newest so many; 0: all
};

// What the journal knows of one controller.
struct SerialHistory {
    std::size_t count = 0;
    // The newest record's, when count > 0.
    std::string lastStarted;
    JobKind lastKind = JobKind::SettingsRead;
    JobOutcome lastOutcome = JobOutcome::Interrupted;
};

enum class JournalAccess {
    Writable,
    ReadOnly,    // read, not written: a journal of a newer program, or a file or folder closed for writing
    Unavailable, // neither: a damaged or foreign file, no folder; problem() says which
};

class JournalStore {
public:
    static constexpr const char* kFileName = "journal.sqlite";
    static constexpr int kBusyTimeoutMs = 5000;

    // This user's journal: kFileName in the data folder, which is made first
    // (private to the user, see openDataFolder).
    JournalStore();
    // The journal at path (UTF-8); the file is made when missing, its folder is not.
    explicit JournalStore(const std::string& path);
    ~JournalStore();
    JournalStore(JournalStore&&) noexcept;
    JournalStore& operator=(JournalStore&&) noexcept;

    JournalAccess access() const;
    const std::string& path() const;
    // The schema version the file says it is (0: not known).
    int fileVersion() const;
    // Why the last call failed; after a call that worked, why the journal is
    // not writable (empty when it is). UTF-8, a sentence for the user that
    // names the file.
    std::string problem() const;

    // Writes the record as it stands, a new one or over its earlier state, in
    // one transaction: revision counts up and it waits to be sent again.
    // False (and problem()) when it could not be written; the record is then
    // unchanged. Cheap: one commit (one flush to disk) of a few rows.
    bool write(JobRecord& record);
    // All of them in one transaction, or none.
    bool write(std::vector<JobRecord>& records);

    // The whole record, backup text included; none when there is no such
    // record or the journal could not be read (problem() then says why).
    std::optional<JobRecord> find(const std::string& id);
    // Newest first (by the instant they started). Records come without their
    // backup text (backupFile says whether there is one): find() has it.
    std::vector<JobRecord> list(const RecordFilter& filter = {});
    // The same, one record at a time; false when the journal could not be read
    // or the filter is wrong. each may call the store.
    bool forEach(const RecordFilter& filter, const std::function<void(const JobRecord&)>& each);
    // How many records there are of that serial number and the newest one's
    // start, kind and outcome; none when the journal could not be read.
    std::optional<SerialHistory> history(std::uint32_t serial);

    // A workshop server took the record at this revision: it waits no more,
    // unless it was written again since. False when not so marked.
    bool markSent(const std::string& id, int revision);
    struct SentMark {
        std::string id;
        int revision = 0;
        std::string reason;  // a refusal's, from the server
    };
    // The same for many, in one transaction; how many were so marked.
    std::size_t markSent(const std::vector<SentMark>& sent);
    // The server refused these at these revisions; after kMaxRefusals a record
    // is set aside (waits no more, refused says why) until it is written again.
    std::size_t markRefused(const std::vector<SentMark>& refused);
    // How many records wait to be sent (those set aside not counted).
    std::optional<std::size_t> waitingCount();
    // How many were set aside: refused by the server, not tried again until written again.
    std::optional<std::size_t> setAsideCount();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace journal
