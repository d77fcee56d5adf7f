#include "JournalStore.h"

#include "Cp1251.h"
#include "DataFolder.h"
#include "JournalFile.h"
#include "JournalSchema.h"
#include "RecordId.h"
#include "SqlStatement.h"
#include "Timestamp.h"

#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <thread>
#include <mutex>
#include <stdexcept>

namespace journal {

namespace {

// Texts are UTF-8 in the file, for a server to take as they are. A text that
// is not (a controller's Windows-1251 that was not converted) is stored as its
// Windows-1251 reading rather than as bytes no server would accept.
bool validUtf8(const std::string& s) {
    size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        size_t more = 0;
        std::uint32_t cp = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            more = 1, cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            more = 2, cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            more = 3, cp = c & 0x07;
        } else {
            return false;
        }
        if (i + more >= s.size())
            return false;
        for (size_t k = 1; k <= more; ++k) {
            const auto cc = static_cast<unsigned char>(s[i + k]);
            if ((cc & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        const bool overlong = (more == 2 && cp < 0x800) || (more == 3 && cp < 0x10000);
        if (overlong || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += more + 1;
    }
    return true;
}

std::string utf8(const std::string& s) { return validUtf8(s) ? s : cp1251::toUtf8(s); }

// The record's columns in the order they are written and read.
constexpr const char kColumns[] =
    "id, revision, started, started_ms, ended, pc, os_user, program, version, port, serial, device_type, "
    "firmware_before, firmware_after, kind, outcome, code, reason, change_count, backup_file, series_id, "
    "unit_number, sync_pending, sync_refusals, sync_problem";
enum Column {
    kId, kRevision, kStarted, kStartedMs, kEnded, kPc, kUser, kProgram, kVersion, kPort, kSerial, kType,
    kFirmwareBefore, kFirmwareAfter, kKind, kOutcome, kCode, kReason, kChangeCount, kBackupFile, kSeriesId,
    kUnitNumber, kSyncPending, kSyncRefusals, kSyncProblem,
    kBackupText, // only where the whole record is read
};

constexpr const char kUpsert[] =
    "INSERT INTO record (id, revision, started, started_ms, ended, pc, os_user, program, version, port, serial, "
    "device_type, firmware_before, firmware_after, kind, outcome, code, reason, change_count, backup_file, series_id, "
    "unit_number, sync_pending, backup_text) "
    "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17, ?18, ?19, ?20, ?21, ?22, 1, "
    "?23) "
    "ON CONFLICT (id) DO UPDATE SET revision = excluded.revision, started = excluded.started, "
    "started_ms = excluded.started_ms, ended = excluded.ended, pc = excluded.pc, os_user = excluded.os_user, "
    "program = excluded.program, version = excluded.version, port = excluded.port, serial = excluded.serial, "
    "device_type = excluded.device_type, firmware_before = excluded.firmware_before, "
    "firmware_after = excluded.firmware_after, kind = excluded.kind, outcome = excluded.outcome, "
    "code = excluded.code, reason = excluded.reason, change_count = excluded.change_count, "
    "backup_file = excluded.backup_file, series_id = excluded.series_id, unit_number = excluded.unit_number, "
    "sync_pending = 1, sync_refusals = 0, sync_problem = '', backup_text = excluded.backup_text";
constexpr const char kDeleteChanges[] = "DELETE FROM record_change WHERE record_id = ?1";
constexpr const char kInsertChange[] =
    "INSERT INTO record_change (record_id, position, key, from_value, to_value, left_out, not_kept, kept_value) "
    "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)";
constexpr const char kSelectChanges[] =
    "SELECT key, from_value, to_value, left_out, not_kept, kept_value FROM record_change WHERE record_id = ?1 "
    "ORDER BY position";
constexpr const char kNewestFirst[] = " ORDER BY started_ms DESC, rowid DESC";

// The day after a date for the until bound: every start of that date is below
// its text with 'T' raised to 'U'.
constexpr char kAfterDateMark = 'U';

} // namespace

struct JournalStore::Impl {
    std::string path;
    sqlite3* db = nullptr;
    JournalAccess access = JournalAccess::Unavailable;
    int version = 0;
    std::string standing; // why the journal is not writable
    std::string last;     // the last call's problem
    std::recursive_mutex mutex;
    SqlStatement upsert, deleteChanges, insertChange, selectChanges, byId;

    ~Impl() { close(); }

    void close() {
        upsert = SqlStatement();
        deleteChanges = SqlStatement();
        insertChange = SqlStatement();
        selectChanges = SqlStatement();
        byId = SqlStatement();
        if (db)
            sqlite3_close_v2(db);
        db = nullptr;
    }

    // What went wrong in SQLite's terms, for the user.
    std::string why(int rc, sqlite3* on = nullptr) const {
        sqlite3* d = on ? on : db;
        const std::string detail = d ? sqlite3_errmsg(d) : sqlite3_errstr(rc);
        std::string text;
        switch (rc & 0xFF) {
        case SQLITE_NOTADB: text = "файл повреждён или это не база данных SQLite"; break;
        case SQLITE_CORRUPT: text = "файл повреждён"; break;
        case SQLITE_FULL: text = "диск заполнен"; break;
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            text = "журнал занят другой программой дольше " + std::to_string(kBusyTimeoutMs / 1000) + " с";
            break;
        case SQLITE_READONLY:
        case SQLITE_CANTOPEN:
        case SQLITE_PERM:
        case SQLITE_AUTH:
            text = writeRefusal(path);
            if (text.empty())
                text = "нет доступа к файлу";
            break;
        case SQLITE_IOERR: text = "ошибка чтения или записи диска"; break;
        default: text = "ошибка SQLite"; break;
        }
        return text + " (" + detail + ")";
    }

    void fail(const std::string& message) { last = message; }
    bool failWrite(int rc) {
        fail("Работа не записана в журнал «" + path + "»: " + why(rc) + ".");
        return false;
    }
    bool failRead(int rc) {
        fail("Журнал «" + path + "» не читается: " + why(rc) + ".");
        return false;
    }
    void ok() { last = standing; }

    bool exec(const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

    // A single integer a pragma or query answers; rc tells how it went.
    static std::int64_t scalar(sqlite3* d, const char* sql, int& rc) {
        SqlStatement s(d, sql);
        if (!s.ok()) {
            rc = s.rc();
            return 0;
        }
        rc = s.step();
        const std::int64_t v = rc == SQLITE_ROW ? s.integerAt(0) : 0;
        if (rc == SQLITE_ROW || rc == SQLITE_DONE)
            rc = SQLITE_OK;
        return v;
    }

    void unavailable(const std::string& message) {
        close();
        access = JournalAccess::Unavailable;
        standing = last = message;
    }

    std::string notOpened(const std::string& reason) const {
        return "Журнал «" + path + "» не открывается: " + reason + ". Файл оставлен как есть, работы не записываются.";
    }

    void open() {
        if (const std::string made = createJournalFile(path); !made.empty())
            return unavailable(notOpened(made));

        // First a look without the right to write: a journal of a newer program
        // or a foreign file must come out of this byte for byte as it went in.
        sqlite3* probe = nullptr;
        int rc = sqlite3_open_v2(path.c_str(), &probe, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
        std::int64_t appId = 0, tables = 0;
        if (rc == SQLITE_OK) {
            sqlite3_busy_timeout(probe, kBusyTimeoutMs);
            // One read transaction: read one by one, another program's making
            // of the file could commit between them, and its new tables without
            // the marks read before would look like a foreign file.
            rc = sqlite3_exec(probe, "BEGIN", nullptr, nullptr, nullptr);
            if (rc == SQLITE_OK)
                appId = scalar(probe, "PRAGMA application_id", rc);
            if (rc == SQLITE_OK)
                version = static_cast<int>(scalar(probe, "PRAGMA user_version", rc));
            if (rc == SQLITE_OK)
                tables = scalar(probe, "SELECT count(*) FROM sqlite_master", rc);
            if (rc == SQLITE_OK)
                rc = sqlite3_exec(probe, "COMMIT", nullptr, nullptr, nullptr);
            else
                sqlite3_exec(probe, "ROLLBACK", nullptr, nullptr, nullptr);
        }
        if (rc != SQLITE_OK) {
            const std::string reason = why(rc, probe);
            sqlite3_close_v2(probe);
            return unavailable(notOpened(reason));
        }
        const bool ours = appId == kJournalApplicationId || (appId == 0 && version == 0 && tables == 0);
        if (!ours) {
            sqlite3_close_v2(probe);
            return unavailable("Файл «" + path +
                               "» — не журнал этой программы. Он оставлен как есть, работы не записываются.");
        }
        if (version > kJournalVersion) {
            db = probe;
            access = JournalAccess::ReadOnly;
            standing = last = newerMessage();
            return;
        }

        // Two programs making the file at once: the switch to WAL and the
        // migration can be refused at once (not waited for) while the other
        // holds the file; such a refusal is tried again within the busy time.
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyTimeoutMs);
        for (;;) {
            rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
            if (rc == SQLITE_OK && sqlite3_db_readonly(db, "main") == 1)
                rc = SQLITE_READONLY;
            if (rc == SQLITE_OK)
                rc = configure();
            if (rc == SQLITE_OK)
                rc = migrate();
            const int primary = rc & 0xFF;
            if ((primary != SQLITE_BUSY && primary != SQLITE_LOCKED) || std::chrono::steady_clock::now() >= giveUp)
                break;
            close();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (rc != SQLITE_OK) {
            const std::string reason = why(rc);
            close();
            // A journal of this very version can still be read.
            if (version == kJournalVersion) {
                db = probe;
                access = JournalAccess::ReadOnly;
                standing = last = "Журнал «" + path + "» не записывается: " + reason +
                                  ". Он открыт только для чтения, новые работы в него не записываются.";
                return;
            }
            sqlite3_close_v2(probe);
            return unavailable(notOpened(reason));
        }
        sqlite3_close_v2(probe);
        if (access == JournalAccess::ReadOnly)
            return; // a newer program migrated it meanwhile
        access = JournalAccess::Writable;
        standing = last = {};
        keepJournalPrivate(path);
    }

    std::string newerMessage() const {
        return "Журнал «" + path + "» ведёт более новая версия программы (версия журнала " + std::to_string(version) +
               ", эта программа знает до " + std::to_string(kJournalVersion) +
               "). Он открыт только для чтения и не изменяется, новые работы в него не записываются.";
    }

    int configure() {
        sqlite3_busy_timeout(db, kBusyTimeoutMs);
        // WAL: readers and one writer at a time, across processes, without
        // "database is locked"; FULL: a commit is on disk when write() returns.
        SqlStatement wal(db, "PRAGMA journal_mode = WAL");
        if (!wal.ok())
            return wal.rc();
        const int rc = wal.step();
        if (rc != SQLITE_ROW)
            return rc;
        if (!exec("PRAGMA synchronous = FULL") || !exec("PRAGMA foreign_keys = ON"))
            return sqlite3_errcode(db);
        return SQLITE_OK;
    }

    // Brings an older file up to this version, in one transaction; another
    // process doing the same at once waits and then finds nothing to do.
    int migrate() {
        int rc = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK)
            return rc;
        int now = static_cast<int>(scalar(db, "PRAGMA user_version", rc));
        if (rc == SQLITE_OK && now > kJournalVersion) {
            exec("ROLLBACK");
            version = now;
            sqlite3* reader = nullptr;
            access = JournalAccess::ReadOnly;
            standing = last = newerMessage();
            // Keep reading through a connection that cannot write.
            close();
            if (sqlite3_open_v2(path.c_str(), &reader, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK)
                return SQLITE_CANTOPEN;
            db = reader;
            return SQLITE_OK;
        }
        for (int v = now + 1; rc == SQLITE_OK && v <= kJournalVersion; ++v)
            rc = sqlite3_exec(db, migrationTo(v), nullptr, nullptr, nullptr);
        if (rc == SQLITE_OK && now < kJournalVersion) {
            const std::string mark = "PRAGMA user_version = " + std::to_string(kJournalVersion) +
                                     "; PRAGMA application_id = " + std::to_string(kJournalApplicationId);
            rc = sqlite3_exec(db, mark.c_str(), nullptr, nullptr, nullptr);
        }
        if (rc == SQLITE_OK)
            rc = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK) {
            exec("ROLLBACK");
            return rc;
        }
        version = kJournalVersion;
        return SQLITE_OK;
    }

    SqlStatement& prepared(SqlStatement& s, const char* sql) {
        if (!s.ok())
            s = SqlStatement(db, sql);
        return s;
    }

    // Why a record cannot go into the file as it stands, or "".
    static std::string invalid(const JobRecord& r) {
        if (!isRecordId(r.id))
            return "у записи нет номера (UUID): «" + utf8(r.id) + "»";
        if (!timestampMs(r.started))
            return "время начала «" + utf8(r.started) + "» не в виде 2026-12-09T10:15:30.123+03:00";
        if (!r.ended.empty() && !timestampMs(r.ended))
            return "время конца «" + utf8(r.ended) + "» не в виде 2026-12-09T10:15:30.123+03:00";
        return {};
    }

    int writeOne(const JobRecord& r) {
        SqlStatement& s = prepared(upsert, kUpsert);
        if (!s.ok())
            return s.rc();
        s.text(1, r.id).integer(2, r.revision + 1).text(3, r.started).integer(4, *timestampMs(r.started));
        r.ended.empty() ? s.null(5) : s.text(5, r.ended);
        s.text(6, utf8(r.pc)).text(7, utf8(r.user)).text(8, utf8(r.program)).text(9, utf8(r.version));
        s.text(10, utf8(r.port)).optional(11, r.serial).text(12, utf8(r.deviceType));
        s.text(13, utf8(r.firmwareBefore)).text(14, utf8(r.firmwareAfter));
        s.text(15, kindName(r.kind)).text(16, outcomeName(r.outcome)).integer(17, r.code).text(18, utf8(r.reason));
        s.integer(19, static_cast<std::int64_t>(r.changes.size())).text(20, utf8(r.backupFile));
        r.seriesId.empty() ? s.null(21) : s.text(21, utf8(r.seriesId));
        s.optional(22, r.unitNumber);
        r.backupText.empty() && r.backupFile.empty() ? s.null(23) : s.blob(23, r.backupText);
        if (!s.run())
            return s.rc();
        SqlStatement& del = prepared(deleteChanges, kDeleteChanges);
        if (!del.ok())
            return del.rc();
        if (!del.text(1, r.id).run())
            return del.rc();
        SqlStatement& ins = prepared(insertChange, kInsertChange);
        if (!ins.ok())
            return ins.rc();
        for (size_t i = 0; i < r.changes.size(); ++i) {
            const ChangeEntry& c = r.changes[i];
            ins.text(1, r.id).integer(2, static_cast<std::int64_t>(i)).text(3, utf8(c.key)).text(4, utf8(c.from));
            ins.text(5, utf8(c.to)).integer(6, c.leftOut).integer(7, c.notKept).text(8, utf8(c.keptValue));
            if (!ins.run())
                return ins.rc();
        }
        return SQLITE_OK;
    }

    bool write(JobRecord* records, size_t count) {
        if (access != JournalAccess::Writable) {
            fail(standing);
            return false;
        }
        for (size_t i = 0; i < count; ++i) {
            if (const std::string bad = invalid(records[i]); !bad.empty()) {
                fail("Работа не записана в журнал «" + path + "»: " + bad + ".");
                return false;
            }
        }
        int rc = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK)
            return failWrite(rc);
        for (size_t i = 0; rc == SQLITE_OK && i < count; ++i)
            rc = writeOne(records[i]);
        if (rc == SQLITE_OK)
            rc = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK) {
            const bool result = failWrite(rc); // the reason before ROLLBACK replaces the message
            if (!sqlite3_get_autocommit(db))
                exec("ROLLBACK");
            return result;
        }
        for (size_t i = 0; i < count; ++i) {
            ++records[i].revision;
            records[i].waiting = true;
        }
        ok();
        return true;
    }

    // The record of the current row of a statement selecting kColumns.
    bool readRow(const SqlStatement& s, JobRecord& r, bool withBackup, int& rc) {
        r = JobRecord();
        r.id = s.textAt(kId);
        r.revision = static_cast<int>(s.integerAt(kRevision));
        r.started = s.textAt(kStarted);
        r.ended = s.textAt(kEnded);
        r.pc = s.textAt(kPc);
        r.user = s.textAt(kUser);
        r.program = s.textAt(kProgram);
        r.version = s.textAt(kVersion);
        r.port = s.textAt(kPort);
        if (!s.isNull(kSerial))
            r.serial = static_cast<std::uint32_t>(s.integerAt(kSerial));
        r.deviceType = s.textAt(kType);
        r.firmwareBefore = s.textAt(kFirmwareBefore);
        r.firmwareAfter = s.textAt(kFirmwareAfter);
        const auto kind = kindFromName(s.textAt(kKind));
        const auto outcome = outcomeFromName(s.textAt(kOutcome));
        if (!kind || !outcome) {
            rc = SQLITE_CORRUPT;
            return false;
        }
        r.kind = *kind;
        r.outcome = *outcome;
        r.code = static_cast<int>(s.integerAt(kCode));
        r.reason = s.textAt(kReason);
        r.backupFile = s.textAt(kBackupFile);
        r.seriesId = s.textAt(kSeriesId);
        if (!s.isNull(kUnitNumber))
            r.unitNumber = static_cast<int>(s.integerAt(kUnitNumber));
        r.waiting = s.integerAt(kSyncPending) != 0;
        if (s.integerAt(kSyncRefusals) >= kMaxRefusals)
            r.refused = s.textAt(kSyncProblem);
        if (withBackup)
            r.backupText = s.blobAt(kBackupText);
        // Most records have no change list: no second look for them.
        if (s.integerAt(kChangeCount) > 0) {
            SqlStatement& c = prepared(selectChanges, kSelectChanges);
            if (!c.ok()) {
                rc = c.rc();
                return false;
            }
            c.text(1, r.id);
            while ((rc = c.step()) == SQLITE_ROW) {
                ChangeEntry e;
                e.key = c.textAt(0);
                e.from = c.textAt(1);
                e.to = c.textAt(2);
                e.leftOut = c.integerAt(3) != 0;
                e.notKept = c.integerAt(4) != 0;
                e.keptValue = c.textAt(5);
                r.changes.push_back(std::move(e));
            }
            c.reset();
            if (rc != SQLITE_DONE)
                return false;
        }
        rc = SQLITE_OK;
        return true;
    }

    // One statement for each mark, all in one transaction (one flush to disk).
    std::size_t mark(const std::vector<SentMark>& marks, const char* sql) {
        std::lock_guard<std::recursive_mutex> lock(mutex);
        if (access != JournalAccess::Writable) {
            fail(standing);
            return 0;
        }
        int rc = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK) {
            failWrite(rc);
            return 0;
        }
        std::size_t changed = 0;
        {
            SqlStatement s(db, sql);
            const bool withReason = s.ok() && std::string(sql).find("?3") != std::string::npos;
            rc = s.ok() ? SQLITE_OK : s.rc();
            for (size_t i = 0; rc == SQLITE_OK && i < marks.size(); ++i) {
                s.text(1, marks[i].id).integer(2, marks[i].revision);
                if (withReason)
                    s.text(3, utf8(marks[i].reason));
                if (!s.run())
                    rc = s.rc();
                else
                    changed += static_cast<std::size_t>(sqlite3_changes(db));
            }
        }
        if (rc == SQLITE_OK)
            rc = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK) {
            failWrite(rc);
            if (!sqlite3_get_autocommit(db))
                exec("ROLLBACK");
            return 0;
        }
        ok();
        return changed;
    }

    bool readable() {
        if (db)
            return true;
        fail(standing);
        return false;
    }

    // How many records match where (SQL); none when the journal could not be read.
    std::optional<std::size_t> count(const std::string& where) {
        std::lock_guard<std::recursive_mutex> lock(mutex);
        if (!readable())
            return std::nullopt;
        int rc = SQLITE_OK;
        const std::int64_t n = scalar(db, ("SELECT count(*) FROM record WHERE " + where).c_str(), rc);
        if (rc != SQLITE_OK) {
            failRead(rc);
            return std::nullopt;
        }
        ok();
        return static_cast<std::size_t>(n);
    }

    bool forEach(const RecordFilter& f, const std::function<void(const JobRecord&)>& each) {
        if (!readable())
            return false;
        for (const std::string* date : {&f.since, &f.until}) {
            if (!date->empty() && !isDateText(*date)) {
                fail("Дата «" + utf8(*date) + "» не в виде ГГГГ-ММ-ДД.");
                return false;
            }
        }
        std::string sql = std::string("SELECT ") + kColumns + " FROM record WHERE 1";
        if (f.serial)
            sql += " AND serial = ?";
        if (f.kind)
            sql += " AND kind = ?";
        if (f.outcome)
            sql += " AND outcome = ?";
        if (!f.since.empty())
            sql += " AND started >= ?";
        if (!f.until.empty())
            sql += " AND started < ?";
        if (f.waitingOnly)
            sql += " AND sync_pending = 1 AND sync_refusals < " + std::to_string(kMaxRefusals);
        else if (f.unsentOnly)
            sql += " AND sync_pending = 1";
        sql += kNewestFirst;
        if (f.limit > 0)
            sql += " LIMIT ?";
        SqlStatement s(db, sql);
        if (!s.ok())
            return failRead(s.rc());
        int i = 1;
        if (f.serial)
            s.integer(i++, *f.serial);
        if (f.kind)
            s.text(i++, kindName(*f.kind));
        if (f.outcome)
            s.text(i++, outcomeName(*f.outcome));
        if (!f.since.empty())
            s.text(i++, f.since);
        if (!f.until.empty())
            s.text(i++, f.until + kAfterDateMark);
        if (f.limit > 0)
            s.integer(i++, static_cast<std::int64_t>(f.limit));
        int rc;
        JobRecord r;
        while ((rc = s.step()) == SQLITE_ROW) {
            if (!readRow(s, r, false, rc))
                return failRead(rc);
            each(r);
        }
        if (rc != SQLITE_DONE)
            return failRead(rc);
        ok();
        return true;
    }
};

JournalStore::JournalStore() : impl_(std::make_unique<Impl>()) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    try {
        impl_->path = (std::filesystem::u8path(openDataFolder()) / kFileName).u8string();
    } catch (const std::runtime_error& e) {
        impl_->path = (std::filesystem::u8path(dataFolder()) / kFileName).u8string();
        impl_->unavailable(impl_->notOpened(e.what()));
        return;
    }
    impl_->open();
}

JournalStore::JournalStore(const std::string& path) : impl_(std::make_unique<Impl>()) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    impl_->path = path;
    impl_->open();
}

JournalStore::~JournalStore() = default;
JournalStore::JournalStore(JournalStore&&) noexcept = default;
JournalStore& JournalStore::operator=(JournalStore&&) noexcept = default;

JournalAccess JournalStore::access() const {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    return impl_->access;
}

const std::string& JournalStore::path() const { return impl_->path; }

int JournalStore::fileVersion() const {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    return impl_->version;
}

std::string JournalStore::problem() const {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    return impl_->last;
}

bool JournalStore::write(JobRecord& record) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    return impl_->write(&record, 1);
}

bool JournalStore::write(std::vector<JobRecord>& records) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    return impl_->write(records.data(), records.size());
}

std::optional<JobRecord> JournalStore::find(const std::string& id) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    Impl& m = *impl_;
    if (!m.readable())
        return std::nullopt;
    SqlStatement& s =
        m.prepared(m.byId, (std::string("SELECT ") + kColumns + ", backup_text FROM record WHERE id = ?1").c_str());
    if (!s.ok()) {
        m.failRead(s.rc());
        return std::nullopt;
    }
    s.text(1, id);
    int rc = s.step();
    std::optional<JobRecord> found;
    if (rc == SQLITE_ROW) {
        JobRecord r;
        if (m.readRow(s, r, true, rc))
            found = std::move(r);
    } else if (rc == SQLITE_DONE) {
        rc = SQLITE_OK;
    }
    s.reset();
    if (rc != SQLITE_OK)
        m.failRead(rc);
    else
        m.ok();
    return found;
}

std::vector<JobRecord> JournalStore::list(const RecordFilter& filter) {
    std::vector<JobRecord> out;
    forEach(filter, [&](const JobRecord& r) { out.push_back(r); });
    return out;
}

bool JournalStore::forEach(const RecordFilter& filter, const std::function<void(const JobRecord&)>& each) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    return impl_->forEach(filter, each);
}

std::optional<SerialHistory> JournalStore::history(std::uint32_t serial) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    Impl& m = *impl_;
    if (!m.readable())
        return std::nullopt;
    // One statement, so the count and the newest record are of the same moment.
    SqlStatement s(m.db, std::string("SELECT count(*), (SELECT started FROM record WHERE serial = ?1") + kNewestFirst +
                             " LIMIT 1), (SELECT kind FROM record WHERE serial = ?1" + kNewestFirst +
                             " LIMIT 1), (SELECT outcome FROM record WHERE serial = ?1" + kNewestFirst +
                             " LIMIT 1) FROM record WHERE serial = ?1");
    if (!s.ok()) {
        m.failRead(s.rc());
        return std::nullopt;
    }
    s.integer(1, serial);
    const int rc = s.step();
    if (rc != SQLITE_ROW) {
        m.failRead(rc);
        return std::nullopt;
    }
    SerialHistory h;
    h.count = static_cast<std::size_t>(s.integerAt(0));
    if (h.count > 0) {
        h.lastStarted = s.textAt(1);
        const auto kind = kindFromName(s.textAt(2));
        const auto outcome = outcomeFromName(s.textAt(3));
        if (!kind || !outcome) {
            m.failRead(SQLITE_CORRUPT);
            return std::nullopt;
        }
        h.lastKind = *kind;
        h.lastOutcome = *outcome;
    }
    m.ok();
    return h;
}

bool JournalStore::markSent(const std::string& id, int revision) {
    return markSent(std::vector<SentMark>{{id, revision, {}}}) == 1;
}

std::size_t JournalStore::markSent(const std::vector<SentMark>& sent) {
    return impl_->mark(sent, "UPDATE record SET sync_pending = 0, sent_revision = ?2 WHERE id = ?1 AND revision = ?2");
}

std::size_t JournalStore::markRefused(const std::vector<SentMark>& refused) {
    return impl_->mark(refused, "UPDATE record SET sync_refusals = sync_refusals + 1, sync_problem = ?3 "
                                "WHERE id = ?1 AND revision = ?2");
}

std::optional<std::size_t> JournalStore::waitingCount() {
    return impl_->count("sync_pending = 1 AND sync_refusals < " + std::to_string(kMaxRefusals));
}

std::optional<std::size_t> JournalStore::setAsideCount() {
    return impl_->count("sync_pending = 1 AND sync_refusals >= " + std::to_string(kMaxRefusals));
}

} // namespace journal
