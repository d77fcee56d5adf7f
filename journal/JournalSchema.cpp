#include "JournalSchema.h"

namespace journal {

namespace {

// Version 1. Columns keep one meaning each so a workshop server's table can
// take a record as it is: the UUID is the key on every PC and on the server,
// the PC's name travels with the record, revision counts its writes, and
// sync_pending marks a record changed since the server last took it
// (sent_revision: the revision it took).
// Texts are UTF-8 TEXT; the backup's settings text is a BLOB of its
// Windows-1251 bytes, so a restore from the journal gets exactly what was saved.
constexpr const char kVersion1[] = R"sql(
CREATE TABLE record (
    id              TEXT    NOT NULL PRIMARY KEY,
    revision        INTEGER NOT NULL,
    started         TEXT    NOT NULL,
    started_ms      INTEGER NOT NULL,
    ended           TEXT,
    pc              TEXT    NOT NULL,
    os_user         TEXT    NOT NULL,
    program         TEXT    NOT NULL,
    version         TEXT    NOT NULL,
    port            TEXT    NOT NULL,
    serial          INTEGER,
    device_type     TEXT    NOT NULL,
    firmware_before TEXT    NOT NULL,
    firmware_after  TEXT    NOT NULL,
    kind            TEXT    NOT NULL CHECK (kind IN ('settings-read', 'settings-write', 'restore', 'backup',
                                                     'firmware', 'sound', 'report')),
    outcome         TEXT    NOT NULL CHECK (outcome IN ('done', 'failed', 'declined', 'interrupted')),
    code            INTEGER NOT NULL,
    reason          TEXT    NOT NULL,
    change_count    INTEGER NOT NULL,
    backup_text     BLOB,
    backup_file     TEXT    NOT NULL,
    series_id       TEXT,
    unit_number     INTEGER,
    sync_pending    INTEGER NOT NULL DEFAULT 1,
    sent_revision   INTEGER NOT NULL DEFAULT 0
);
CREATE TABLE record_change (
    record_id  TEXT    NOT NULL REFERENCES record (id) ON DELETE CASCADE,
    position   INTEGER NOT NULL,
    key        TEXT    NOT NULL,
    from_value TEXT    NOT NULL,
    to_value   TEXT    NOT NULL,
    left_out   INTEGER NOT NULL,
    not_kept   INTEGER NOT NULL,
    kept_value TEXT    NOT NULL,
    PRIMARY KEY (record_id, position)
) WITHOUT ROWID;
CREATE INDEX record_by_time ON record (started_ms);
CREATE INDEX record_by_serial ON record (serial, started_ms);
CREATE INDEX record_by_local_date ON record (started);
CREATE INDEX record_waiting ON record (started_ms) WHERE sync_pending = 1;
)sql";

// Version 2: a record a workshop server refused is set aside after a few
// tries, with the server's reason, so it does not hold up those behind it; a
// new write of it tries again.
constexpr const char kVersion2[] = R"sql(
ALTER TABLE record ADD COLUMN sync_refusals INTEGER NOT NULL DEFAULT 0;
ALTER TABLE record ADD COLUMN sync_problem TEXT NOT NULL DEFAULT '';
DROP INDEX record_waiting;
CREATE INDEX record_waiting ON record (started_ms) WHERE sync_pending = 1 AND sync_refusals < 3;
)sql";

constexpr const char* kMigrations[] = {kVersion1, kVersion2};
static_assert(sizeof kMigrations / sizeof kMigrations[0] == kJournalVersion, "a migration for every version");

} // namespace

const char* migrationTo(int version) {
    if (version < 1 || version > kJournalVersion)
        return nullptr;
    return kMigrations[version - 1];
}

} // namespace journal
