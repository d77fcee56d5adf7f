#pragma once
// The journal on a workshop's PostgreSQL server, through libpq: records sent
// in batches (a record's id is the key, a later revision replaces an earlier
// one, never the other way round) and read back for every PC of the workshop.
// Every call is bounded: a connect time-out, keepalives, a TCP user time-out
// and a statement time-out are added to the connection string where it does
// not set them, so a server that is slow or gone never holds a caller longer
// than those. Not for two threads at once: each user has its own.
#include "JobRecord.h"
#include "JournalStore.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace journal {

// What became of one record of a batch.
enum class Delivery {
    Stored,   // on the server now, at this revision or a later one
    Refused,  // the server will not take it as it stands (a constraint, a bad value): reason says why
    NotSent,  // the connection failed: try again later
};

struct SentRecord {
    Delivery delivery = Delivery::NotSent;
    std::string reason;
};

class ServerJournal {
public:
    static constexpr int kConnectTimeoutS = 5;
    static constexpr int kStatementTimeoutMs = 15000;
    // Records read in one go when they are read one at a time.
    static constexpr int kFetchRows = 1000;

    // conninfo: a libpq connection string ("host=... dbname=... user=...").
    explicit ServerJournal(std::string conninfo);
    ~ServerJournal();
    ServerJournal(const ServerJournal&) = delete;
    ServerJournal& operator=(const ServerJournal&) = delete;

    // Connects when not connected and makes the tables on a server that has
    // none (when this role may). False with problem() when it cannot.
    bool connect();
    bool connected() const;
    // The last connect failed for want of a password (none in libpq's
    // password file): the window asks for one.
    bool needsPassword() const { return needsPassword_; }
    // A password for this object's connections, kept in memory only.
    void setPassword(std::string password) { password_ = std::move(password); }
    void disconnect();
    // Why the last call failed, for the user (UTF-8); empty after one that worked.
    const std::string& problem() const { return problem_; }

    // Sends the records (whole, backup text included) in one transaction: the
    // result for each, in order. A record the server refuses is refused alone.
    std::vector<SentRecord> send(const std::vector<JobRecord>& records);

    // The server's records, newest first, without backup texts; none (and
    // problem()) when it cannot be read.
    std::optional<std::vector<JobRecord>> list(const RecordFilter& filter);
    // The same one at a time, read kFetchRows at a time through a cursor, so
    // however many there are they are never held at once; each returns false
    // to stop. False (and problem()) when they could not all be read: each
    // may have had some of them already.
    bool forEach(const RecordFilter& filter, const std::function<bool(const JobRecord&)>& each);
    std::optional<JobRecord> find(const std::string& id);
    std::optional<SerialHistory> history(std::uint32_t serial);

    // The connection string with the bounds added, as it is used (no password is ever added).
    static std::string bounded(const std::string& conninfo);
    // Why a connection string cannot be used ("" when it can): libpq's parse.
    static std::string parseProblem(const std::string& conninfo);
    // A caution for a connection string that sends records unchecked over a
    // network: a host that is not this PC with an sslmode below verify-full;
    // "" when there is none.
    static std::string securityWarning(const std::string& conninfo);
    // Whether the connection string holds a password (the program never keeps one).
    static bool holdsPassword(const std::string& conninfo);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::string conninfo_, problem_, password_;
    bool needsPassword_ = false;
};

// The workshop's records of a filter, newest first, one at a time until each
// returns false: the server's, with this PC's that the server lacks at their
// revision in their place among them (those waiting to be sent, and those it
// refused and that were set aside: refused says why); the newest filter.limit
// of them (0: all). False when the server could not be read (its problem()):
// each may have had some already. This PC's are read first and held (they are
// few: what this PC has not sent); the server's are not held.
bool forEachWorkshopRecord(ServerJournal& server, JournalStore& store, const RecordFilter& filter,
                           const std::function<bool(const JobRecord&)>& each);

// The shipped SQL that makes the server's tables (what the program runs itself).
const char* serverTablesSql();
// The whole file, the rights of the program's role included.
const char* serverSql();

} // namespace journal
