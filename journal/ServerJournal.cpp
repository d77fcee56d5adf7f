#include "ServerJournal.h"

#include "RecordCsv.h"
#include "RecordId.h"
#include "Timestamp.h"

#include <libpq-fe.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <set>

namespace journal {

namespace {

// What the program asks of the server's role when the tables are missing.
const char kSchemaQuery[] = "SELECT version FROM z58_schema";
constexpr int kServerSchemaVersion = 1;

constexpr const char kColumns[] =
    "id, revision, started, started_ms, ended, pc, os_user, program, version, port, serial, device_type, "
    "firmware_before, firmware_after, kind, outcome, code, reason, changes, backup_file, series_id, unit_number";
constexpr int kColumnCount = 23;  // kColumns and backup_text, last

// A later revision replaces an earlier one, never the other way round; id,
// PC and start are never changed.
constexpr const char kOnConflict[] =
    " ON CONFLICT (id) DO UPDATE SET revision = excluded.revision, ended = excluded.ended, "
    "os_user = excluded.os_user, program = excluded.program, version = excluded.version, port = excluded.port, "
    "serial = excluded.serial, device_type = excluded.device_type, firmware_before = excluded.firmware_before, "
    "firmware_after = excluded.firmware_after, kind = excluded.kind, outcome = excluded.outcome, "
    "code = excluded.code, reason = excluded.reason, changes = excluded.changes, "
    "backup_text = excluded.backup_text, backup_file = excluded.backup_file, series_id = excluded.series_id, "
    "unit_number = excluded.unit_number, received = now() WHERE z58_record.revision < excluded.revision";

struct ResultPtr {
    PGresult* r = nullptr;
    explicit ResultPtr(PGresult* p) : r(p) {}
    ~ResultPtr() { PQclear(r); }
    ResultPtr(const ResultPtr&) = delete;
    ResultPtr& operator=(const ResultPtr&) = delete;
    ExecStatusType status() const { return r ? PQresultStatus(r) : PGRES_FATAL_ERROR; }
    bool ok() const { return status() == PGRES_COMMAND_OK || status() == PGRES_TUPLES_OK; }
    std::string sqlState() const {
        const char* s = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
        return s ? s : "";
    }
    std::string at(int row, int column) const { return PQgetisnull(r, row, column) ? "" : PQgetvalue(r, row, column); }
    bool null(int row, int column) const { return PQgetisnull(r, row, column) != 0; }
};

std::string trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == ' '))
        s.pop_back();
    return s;
}

// The parameters of one record, as text (backup_text binary).
struct Params {
    std::vector<std::string> text;
    std::vector<bool> isNull;
    std::string backup;
    bool hasBackup = false;
};

Params paramsOf(const JobRecord& r) {
    Params p;
    auto put = [&](std::string v, bool null = false) {
        p.text.push_back(std::move(v));
        p.isNull.push_back(null);
    };
    put(r.id);
    put(std::to_string(r.revision));
    put(r.started);
    put(std::to_string(timestampMs(r.started).value_or(0)));
    put(r.ended, r.ended.empty());
    put(r.pc);
    put(r.user);
    put(r.program);
    put(r.version);
    put(r.port);
    put(r.serial ? std::to_string(*r.serial) : "", !r.serial);
    put(r.deviceType);
    put(r.firmwareBefore);
    put(r.firmwareAfter);
    put(kindName(r.kind));
    put(outcomeName(r.outcome));
    put(std::to_string(r.code));
    put(r.reason);
    put(changesField(r.changes));
    put(r.backupFile);
    put(r.seriesId, r.seriesId.empty());
    put(r.unitNumber ? std::to_string(*r.unitNumber) : "", !r.unitNumber);
    p.backup = r.backupText;
    p.hasBackup = !r.backupText.empty();
    return p;
}

JobRecord recordOf(const ResultPtr& res, int row, bool withBackup) {
    JobRecord r;
    r.id = res.at(row, 0);
    r.revision = std::atoi(res.at(row, 1).c_str());
    r.waiting = false;
    r.started = res.at(row, 2);
    r.ended = res.at(row, 4);
    r.pc = res.at(row, 5);
    r.user = res.at(row, 6);
    r.program = res.at(row, 7);
    r.version = res.at(row, 8);
    r.port = res.at(row, 9);
    if (!res.null(row, 10))
        r.serial = static_cast<std::uint32_t>(std::strtoull(res.at(row, 10).c_str(), nullptr, 10));
    r.deviceType = res.at(row, 11);
    r.firmwareBefore = res.at(row, 12);
    r.firmwareAfter = res.at(row, 13);
    r.kind = kindFromName(res.at(row, 14)).value_or(JobKind::SettingsRead);
    r.outcome = outcomeFromName(res.at(row, 15)).value_or(JobOutcome::Interrupted);
    r.code = std::atoi(res.at(row, 16).c_str());
    r.reason = res.at(row, 17);
    r.changes = parseChangesField(res.at(row, 18)).value_or(std::vector<ChangeEntry>{});
    r.backupFile = res.at(row, 19);
    r.seriesId = res.at(row, 20);
    if (!res.null(row, 21))
        r.unitNumber = std::atoi(res.at(row, 21).c_str());
    if (withBackup && !res.null(row, 22)) {
        size_t size = 0;
        unsigned char* bytes = PQunescapeBytea(reinterpret_cast<const unsigned char*>(PQgetvalue(res.r, row, 22)), &size);
        if (bytes) {
            r.backupText.assign(reinterpret_cast<const char*>(bytes), size);
            PQfreemem(bytes);
        }
    }
    return r;
}

// Options of a parsed connection string, by keyword, that are set.
std::optional<std::map<std::string, std::string>> options(const std::string& conninfo, std::string* problem) {
    char* error = nullptr;
    PQconninfoOption* parsed = PQconninfoParse(conninfo.c_str(), &error);
    if (!parsed) {
        if (problem)
            *problem = error ? trimmed(error) : "строка подключения не разбирается";
        PQfreemem(error);
        return std::nullopt;
    }
    std::map<std::string, std::string> set;
    for (PQconninfoOption* o = parsed; o->keyword; ++o)
        if (o->val)
            set[o->keyword] = o->val;
    PQconninfoFree(parsed);
    return set;
}

// A connection string value, quoted as libpq reads it.
std::string quoted(const std::string& value) {
    std::string out = "'";
    for (char c : value) {
        if (c == '\'' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "'";
}

bool localHost(const std::string& host) {
    if (host.empty())
        return true;  // a Unix socket or libpq's default
    if (host[0] == '/')
        return true;
    return host == "localhost" || host == "127.0.0.1" || host == "::1" || host.rfind("127.", 0) == 0;
}

} // namespace

struct ServerJournal::Impl {
    PGconn* conn = nullptr;
    ~Impl() { drop(); }
    void drop() {
        if (conn)
            PQfinish(conn);
        conn = nullptr;
    }
};

ServerJournal::ServerJournal(std::string conninfo) : impl_(std::make_unique<Impl>()), conninfo_(std::move(conninfo)) {}
ServerJournal::~ServerJournal() = default;

std::string ServerJournal::parseProblem(const std::string& conninfo) {
    std::string problem;
    return options(conninfo, &problem) ? std::string() : problem;
}

bool ServerJournal::holdsPassword(const std::string& conninfo) {
    const auto set = options(conninfo, nullptr);
    return set && set->count("password") > 0;
}

std::string ServerJournal::securityWarning(const std::string& conninfo) {
    const auto set = options(conninfo, nullptr);
    if (!set)
        return {};
    const auto host = set->find("host"), mode = set->find("sslmode");
    const auto hostaddr = set->find("hostaddr");
    const std::string where = host != set->end() ? host->second : hostaddr != set->end() ? hostaddr->second : "";
    const std::string sslmode = mode != set->end() ? mode->second : "prefer";
    if (localHost(where) || sslmode == "verify-full")
        return {};
    return "Внимание: сервер «" + where + "» не на этом компьютере, а sslmode=" + sslmode +
           " не проверяет, что это он (записи и копии настроек владельцев могут попасть к чужому серверу). "
           "Укажите sslmode=verify-full и sslrootcert с сертификатом сервера.";
}

std::string ServerJournal::bounded(const std::string& conninfo) {
    const auto set = options(conninfo, nullptr);
    if (!set)
        return conninfo;
    std::string out = conninfo;
    auto add = [&](const char* key, const std::string& value) {
        if (!set->count(key))
            out += std::string(out.empty() ? "" : " ") + key + "=" + quoted(value);
    };
    add("connect_timeout", std::to_string(kConnectTimeoutS));
    add("keepalives", "1");
    add("keepalives_idle", "5");
    add("keepalives_interval", "2");
    add("keepalives_count", "3");
    add("tcp_user_timeout", "10000");
    add("application_name", "z58");
    const auto given = set->find("options");
    const std::string timeout = "-c statement_timeout=" + std::to_string(kStatementTimeoutMs);
    if (given == set->end())
        add("options", timeout);
    else if (given->second.find("statement_timeout") == std::string::npos)
        out += " options=" + quoted(given->second + " " + timeout);  // the later one wins
    return out;
}

bool ServerJournal::connected() const { return impl_->conn && PQstatus(impl_->conn) == CONNECTION_OK; }

void ServerJournal::disconnect() { impl_->drop(); }

bool ServerJournal::connect() {
    if (connected())
        return true;
    impl_->drop();
    if (const std::string bad = parseProblem(conninfo_); !bad.empty()) {
        problem_ = "Строка подключения к серверу журнала неверна: " + bad;
        return false;
    }
    std::string info = bounded(conninfo_);
    if (!password_.empty())
        info += " password=" + quoted(password_);
    impl_->conn = PQconnectdb(info.c_str());
    needsPassword_ = PQstatus(impl_->conn) != CONNECTION_OK && PQconnectionNeedsPassword(impl_->conn);
    if (PQstatus(impl_->conn) != CONNECTION_OK) {
        problem_ = "Сервер журнала недоступен: " + trimmed(PQerrorMessage(impl_->conn));
        impl_->drop();
        return false;
    }
    PQsetClientEncoding(impl_->conn, "UTF8");
    // The tables, made here when the server has none and this role may.
    ResultPtr version(PQexec(impl_->conn, kSchemaQuery));
    if (!version.ok() && version.sqlState() == "42P01") {
        ResultPtr made(PQexec(impl_->conn, serverTablesSql()));
        if (!made.ok()) {
            problem_ = "На сервере нет таблиц журнала, и создать их этой роли нельзя (" +
                       trimmed(PQresultErrorMessage(made.r)) +
                       "): администратор создаёт их файлом server.sql.";
            impl_->drop();
            return false;
        }
        ResultPtr again(PQexec(impl_->conn, kSchemaQuery));
        if (!again.ok()) {
            problem_ = "Таблицы журнала на сервере не читаются: " + trimmed(PQresultErrorMessage(again.r));
            impl_->drop();
            return false;
        }
        problem_.clear();
        return true;
    }
    if (!version.ok()) {
        problem_ = "Таблицы журнала на сервере не читаются: " + trimmed(PQresultErrorMessage(version.r));
        impl_->drop();
        return false;
    }
    const int serverVersion = PQntuples(version.r) ? std::atoi(version.at(0, 0).c_str()) : 0;
    if (serverVersion != kServerSchemaVersion) {
        problem_ = "Журнал на сервере другой версии (" + std::to_string(serverVersion) + ", эта программа знает " +
                   std::to_string(kServerSchemaVersion) + "): записи туда не отправляются.";
        impl_->drop();
        return false;
    }
    problem_.clear();
    return true;
}

std::vector<SentRecord> ServerJournal::send(const std::vector<JobRecord>& records) {
    std::vector<SentRecord> out(records.size());
    if (records.empty())
        return out;
    if (!connect()) {
        for (SentRecord& s : out)
            s.reason = problem_;
        return out;
    }
    PGconn* c = impl_->conn;
    // One id once per statement: a second row of it could not be upserted in the same one.
    std::vector<size_t> rows;
    std::set<std::string> seen;
    for (size_t i = 0; i < records.size(); ++i) {
        if (!isRecordId(records[i].id)) {
            out[i] = {Delivery::Refused, "у записи нет номера (UUID)"};
            continue;
        }
        if (seen.insert(records[i].id).second)
            rows.push_back(i);
        else
            out[i].delivery = Delivery::Stored;  // the same record as an earlier row
    }
    auto exec = [&](const std::vector<size_t>& which) {
        std::string sql = std::string("INSERT INTO z58_record (") + kColumns + ", backup_text) VALUES ";
        std::vector<Params> params;
        params.reserve(which.size());
        std::vector<const char*> values;
        std::vector<int> lengths, formats;
        int n = 0;
        for (size_t k = 0; k < which.size(); ++k) {
            params.push_back(paramsOf(records[which[k]]));
            sql += k ? ",(" : "(";
            for (int col = 0; col < kColumnCount; ++col)
                sql += (col ? ",$" : "$") + std::to_string(++n);
            sql += ")";
        }
        for (const Params& p : params) {
            for (size_t col = 0; col < p.text.size(); ++col) {
                values.push_back(p.isNull[col] ? nullptr : p.text[col].c_str());
                lengths.push_back(0);
                formats.push_back(0);
            }
            values.push_back(p.hasBackup ? p.backup.data() : nullptr);
            lengths.push_back(static_cast<int>(p.backup.size()));
            formats.push_back(1);
        }
        sql += kOnConflict;
        return std::make_unique<ResultPtr>(PQexecParams(c, sql.c_str(), n, nullptr, values.data(), lengths.data(),
                                                        formats.data(), 0));
    };
    auto lost = [&](const std::string& why) {
        problem_ = "Сервер журнала недоступен: " + why;
        for (size_t i : rows)
            out[i] = {Delivery::NotSent, problem_};
        impl_->drop();
        return out;
    };
    // In batches the server takes in one statement (its limit is 65535 parameters).
    constexpr size_t kRowsPerStatement = 1000;
    ResultPtr begin(PQexec(c, "BEGIN"));
    if (!begin.ok())
        return lost(trimmed(PQerrorMessage(c)));
    for (size_t from = 0; from < rows.size(); from += kRowsPerStatement) {
        const std::vector<size_t> part(rows.begin() + static_cast<std::ptrdiff_t>(from),
                                       rows.begin() + static_cast<std::ptrdiff_t>(std::min(rows.size(), from + kRowsPerStatement)));
        ResultPtr save(PQexec(c, "SAVEPOINT batch"));
        if (!save.ok())
            return lost(trimmed(PQerrorMessage(c)));
        auto all = exec(part);
        if (all->ok()) {
            for (size_t i : part)
                out[i].delivery = Delivery::Stored;
            continue;
        }
        const std::string state = all->sqlState();
        if (PQstatus(c) != CONNECTION_OK || (state.rfind("22", 0) != 0 && state.rfind("23", 0) != 0))
            return lost(trimmed(PQresultErrorMessage(all->r)));
        // A value the server refuses: each record alone, so the others still go.
        ResultPtr back(PQexec(c, "ROLLBACK TO SAVEPOINT batch"));
        if (!back.ok())
            return lost(trimmed(PQerrorMessage(c)));
        for (size_t i : part) {
            ResultPtr one(PQexec(c, "SAVEPOINT one"));
            auto res = exec({i});
            if (res->ok()) {
                out[i].delivery = Delivery::Stored;
                continue;
            }
            if (PQstatus(c) != CONNECTION_OK)
                return lost(trimmed(PQerrorMessage(c)));
            const std::string s = res->sqlState();
            if (s.rfind("22", 0) != 0 && s.rfind("23", 0) != 0)
                return lost(trimmed(PQresultErrorMessage(res->r)));
            out[i] = {Delivery::Refused, trimmed(PQresultErrorMessage(res->r))};
            ResultPtr undo(PQexec(c, "ROLLBACK TO SAVEPOINT one"));
            if (!undo.ok())
                return lost(trimmed(PQerrorMessage(c)));
        }
    }
    ResultPtr commit(PQexec(c, "COMMIT"));
    if (!commit.ok())
        return lost(trimmed(PQerrorMessage(c)));
    problem_.clear();
    return out;
}

bool ServerJournal::forEach(const RecordFilter& f, const std::function<bool(const JobRecord&)>& each) {
    if (!connect())
        return false;
    std::string sql = std::string("DECLARE z58_rows NO SCROLL CURSOR FOR SELECT ") + kColumns + " FROM z58_record WHERE true";
    std::vector<std::string> values;
    auto param = [&](const std::string& v) {
        values.push_back(v);
        return "$" + std::to_string(values.size());
    };
    if (f.serial)
        sql += " AND serial = " + param(std::to_string(*f.serial));
    if (f.kind)
        sql += " AND kind = " + param(kindName(*f.kind));
    if (f.outcome)
        sql += " AND outcome = " + param(outcomeName(*f.outcome));
    // Local dates of the start, as each PC wrote them.
    if (!f.since.empty())
        sql += " AND started >= " + param(f.since);
    if (!f.until.empty())
        sql += " AND started < " + param(f.until + "U");
    sql += " ORDER BY started_ms DESC, id DESC";
    if (f.limit)
        sql += " LIMIT " + std::to_string(f.limit);
    std::vector<const char*> v;
    for (const std::string& s : values)
        v.push_back(s.c_str());

    PGconn* c = impl_->conn;
    // A cursor lives in a transaction; one left open (a failure, a stop, an
    // exception from each) is rolled back, so the connection stays usable.
    struct Transaction {
        PGconn* c;
        ~Transaction() {
            if (PQstatus(c) == CONNECTION_OK && PQtransactionStatus(c) != PQTRANS_IDLE)
                PQclear(PQexec(c, "ROLLBACK"));
        }
    } transaction{c};
    const auto failed = [&](const ResultPtr& res) {
        problem_ = "Журнал на сервере не читается: " +
                   trimmed(res.r ? PQresultErrorMessage(res.r) : PQerrorMessage(c));
        return false;
    };
    bool ok = [&] {
        ResultPtr begin(PQexec(c, "BEGIN READ ONLY"));
        if (!begin.ok())
            return failed(begin);
        ResultPtr declare(
            PQexecParams(c, sql.c_str(), static_cast<int>(v.size()), nullptr, v.data(), nullptr, nullptr, 0));
        if (!declare.ok())
            return failed(declare);
        // Each batch its own statement, so the statement time-out bounds one
        // batch, not the whole journal however slowly each takes its rows.
        const std::string fetch = "FETCH " + std::to_string(kFetchRows) + " FROM z58_rows";
        for (;;) {
            ResultPtr rows(PQexec(c, fetch.c_str()));
            if (!rows.ok())
                return failed(rows);
            const int n = PQntuples(rows.r);
            for (int row = 0; row < n; ++row)
                if (!each(recordOf(rows, row, false)))
                    return true;
            if (n < kFetchRows)
                break;
        }
        ResultPtr commit(PQexec(c, "COMMIT"));
        return commit.ok() || failed(commit);
    }();
    if (ok) {
        problem_.clear();
    } else if (PQstatus(c) != CONNECTION_OK) {
        transaction.c = nullptr; // nothing to roll back on a connection gone
        impl_->drop();
    }
    return ok;
}

std::optional<std::vector<JobRecord>> ServerJournal::list(const RecordFilter& f) {
    std::vector<JobRecord> out;
    if (!forEach(f, [&](const JobRecord& r) {
            out.push_back(r);
            return true;
        }))
        return std::nullopt;
    return out;
}

std::optional<JobRecord> ServerJournal::find(const std::string& id) {
    if (!isRecordId(id) || !connect())
        return std::nullopt;
    const std::string sql = std::string("SELECT ") + kColumns + ", backup_text FROM z58_record WHERE id = $1";
    const char* v[] = {id.c_str()};
    ResultPtr res(PQexecParams(impl_->conn, sql.c_str(), 1, nullptr, v, nullptr, nullptr, 0));
    if (!res.ok()) {
        problem_ = "Журнал на сервере не читается: " + trimmed(PQresultErrorMessage(res.r));
        return std::nullopt;
    }
    problem_.clear();
    if (PQntuples(res.r) == 0)
        return std::nullopt;
    return recordOf(res, 0, true);
}

std::optional<SerialHistory> ServerJournal::history(std::uint32_t serial) {
    if (!connect())
        return std::nullopt;
    const std::string s = std::to_string(serial);
    const char* v[] = {s.c_str()};
    ResultPtr res(PQexecParams(impl_->conn,
                               "SELECT (SELECT count(*) FROM z58_record WHERE serial = $1), started, kind, outcome "
                               "FROM (SELECT 1) one LEFT JOIN LATERAL (SELECT started, kind, outcome FROM z58_record "
                               "WHERE serial = $1 ORDER BY started_ms DESC LIMIT 1) last ON true",
                               1, nullptr, v, nullptr, nullptr, 0));
    if (!res.ok() || PQntuples(res.r) != 1) {
        problem_ = "Журнал на сервере не читается: " + trimmed(PQresultErrorMessage(res.r));
        return std::nullopt;
    }
    SerialHistory h;
    h.count = static_cast<size_t>(std::strtoull(res.at(0, 0).c_str(), nullptr, 10));
    if (h.count) {
        h.lastStarted = res.at(0, 1);
        h.lastKind = kindFromName(res.at(0, 2)).value_or(JobKind::SettingsRead);
        h.lastOutcome = outcomeFromName(res.at(0, 3)).value_or(JobOutcome::Interrupted);
    }
    problem_.clear();
    return h;
}

bool forEachWorkshopRecord(ServerJournal& server, JournalStore& store, const RecordFilter& filter,
                           const std::function<bool(const JobRecord&)>& each) {
    // This PC's records the server lacks, in the server's order (ties by id).
    RecordFilter unsent = filter;
    unsent.waitingOnly = false;
    unsent.unsentOnly = true;
    std::vector<JobRecord> local = store.list(unsent);
    const auto newer = [](const JobRecord& a, const JobRecord& b) {
        const std::int64_t ta = timestampMs(a.started).value_or(0), tb = timestampMs(b.started).value_or(0);
        return ta != tb ? ta > tb : a.id > b.id;
    };
    std::stable_sort(local.begin(), local.end(), newer);
    std::set<std::string> mine;
    for (const JobRecord& r : local)
        mine.insert(r.id);

    std::size_t next = 0, given = 0;
    bool more = true;
    const auto give = [&](const JobRecord& r) {
        more = (!filter.limit || given < filter.limit) && each(r);
        ++given;
        return more;
    };
    const bool read = server.forEach(filter, [&](const JobRecord& r) {
        // This PC's newer revision of it comes in its place: the same start, the same place.
        if (mine.count(r.id))
            return true;
        while (next < local.size() && newer(local[next], r))
            if (!give(local[next++]))
                return false;
        return give(r);
    });
    if (!read)
        return false;
    while (more && next < local.size())
        give(local[next++]);
    return true;
}

} // namespace journal
