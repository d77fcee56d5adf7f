// Checks libpq as the journal uses it, against a real server: TLS in use,
// password authentication, the server's version, an INSERT/SELECT round trip
// (UTF-8 text with a quote, bytes with zeros, as parameters and binary
// results), two more connections writing at once from their own threads while
// std::mutex guards the shared state, and a failed statement that leaves the
// connection usable. Where the connection must not come up, that it is refused
// and why.
//   libpq_check connect CONNINFO          exit 0 when all holds, 1 with what broke
//   libpq_check refused CONNINFO TEXT     exit 0 when refused with TEXT in the message
#include <libpq-fe.h>
#ifdef _WIN32
#include <openssl/crypto.h>
#endif

#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kWorkers = 2;
constexpr int kRowsPerWorker = 50;
// A reason as a job would store it: Cyrillic UTF-8 and an embedded quote.
const std::string kReason = "\xD0\x9D\xD0\xB5\xD1\x82 \xD0\xBE\xD1\x82\xD0\xB2\xD0\xB5\xD1\x82\xD0\xB0 'COM7'";
// Bytes a settings backup may hold: zeros, a backslash, a quote, high bytes.
const std::string kBackup("\x00\x01\x7F\x80\xFF\\'\r\n\x00", 10);

struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

void require(bool ok, const std::string& what) {
    if (!ok)
        throw Failure(what);
}

std::string firstLine(const char* message) {
    std::string text = message ? message : "";
    return text.substr(0, text.find('\n'));
}

using Result = std::unique_ptr<PGresult, decltype(&PQclear)>;

struct Param {
    std::string value;
    bool binary = false;
};

class Connection {
public:
    explicit Connection(const std::string& conninfo) : conn_(PQconnectdb(conninfo.c_str()), &PQfinish) {
        require(conn_ != nullptr, "out of memory");
        require(PQstatus(conn_.get()) == CONNECTION_OK, "connect: " + firstLine(PQerrorMessage(conn_.get())));
        require(PQsetClientEncoding(conn_.get(), "UTF8") == 0, "client encoding UTF8 refused");
    }

    PGconn* get() const { return conn_.get(); }

    // Runs a statement that must succeed; parameters are text unless marked
    // binary, results come as text or (binaryResult) binary.
    Result exec(const std::string& sql, const std::vector<Param>& params = {}, bool binaryResult = false) {
        Result result = run(sql, params, binaryResult);
        const ExecStatusType status = PQresultStatus(result.get());
        require(status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK,
                sql + ": " + firstLine(PQresultErrorMessage(result.get())));
        return result;
    }

    Result run(const std::string& sql, const std::vector<Param>& params, bool binaryResult = false) {
        std::vector<const char*> values;
        std::vector<int> lengths;
        std::vector<int> formats;
        for (const Param& p : params) {
            values.push_back(p.value.data());
            lengths.push_back(static_cast<int>(p.value.size()));
            formats.push_back(p.binary ? 1 : 0);
        }
        Result result(PQexecParams(conn_.get(), sql.c_str(), static_cast<int>(params.size()), nullptr,
                                   values.data(), lengths.data(), formats.data(), binaryResult ? 1 : 0),
                      &PQclear);
        require(result != nullptr, sql + ": " + firstLine(PQerrorMessage(conn_.get())));
        return result;
    }

private:
    std::unique_ptr<PGconn, decltype(&PQfinish)> conn_;
};

std::string value(const Result& result, int row, int column) {
    return std::string(PQgetvalue(result.get(), row, column),
                       static_cast<size_t>(PQgetlength(result.get(), row, column)));
}

void checkLibrary() {
    require(PQisthreadsafe() == 1, "libpq is not built thread-safe");
    const char* library = PQsslAttribute(nullptr, "library");
    require(library && std::strcmp(library, "OpenSSL") == 0, "libpq has no OpenSSL");
#ifdef _WIN32
    // The folder OpenSSL reads its configuration from must be one only an
    // administrator can write.
    const std::string dir = OpenSSL_version(OPENSSL_DIR);
    require(dir == "OPENSSLDIR: \"C:/Program Files/Common Files/SSL\"", "OpenSSL's folder is " + dir);
    std::printf("libpq %d with %s\n", PQlibVersion(), OpenSSL_version(OPENSSL_VERSION));
#else
    std::printf("libpq %d\n", PQlibVersion());
#endif
}

void checkSession(Connection& db) {
    require(PQsslInUse(db.get()) == 1, "the connection is not encrypted");
    require(PQconnectionUsedPassword(db.get()) == 1, "the server asked for no password");
    const char* protocol = PQsslAttribute(db.get(), "protocol");
    const char* cipher = PQsslAttribute(db.get(), "cipher");
    require(protocol && cipher, "no TLS protocol or cipher reported");
    std::printf("connected: %s, %s, password sent\n", protocol, cipher);

    // The server's own view of this session.
    const Result r = db.exec("SELECT version(), s.ssl, s.version FROM pg_stat_ssl s WHERE s.pid = pg_backend_pid()");
    require(PQntuples(r.get()) == 1, "the server lists no session for this connection");
    require(value(r, 0, 0).rfind("PostgreSQL ", 0) == 0, "SELECT version() says " + value(r, 0, 0));
    require(value(r, 0, 1) == "t", "the server sees no TLS on this session");
    require(value(r, 0, 2) == protocol, "the server's TLS version " + value(r, 0, 2) + " is not " + protocol);
    std::printf("server: %s\n", value(r, 0, 0).c_str());
}

long long insertRecord(Connection& db, int worker, const std::string& reason, const std::string& backup) {
    const Result r = db.exec("INSERT INTO journal_check(worker, reason, backup) VALUES($1, $2, $3) RETURNING id",
                             {{std::to_string(worker)}, {reason}, {backup, true}});
    return std::stoll(value(r, 0, 0));
}

void checkRoundTrip(Connection& db, const std::string& conninfo) {
    db.exec("DROP TABLE IF EXISTS journal_check");
    db.exec("CREATE TABLE journal_check(id bigserial PRIMARY KEY, worker int NOT NULL, reason text NOT NULL, "
            "backup bytea NOT NULL)");
    const long long probe = insertRecord(db, 0, kReason, kBackup);

    // Each worker has its own connection, made while the others make theirs.
    std::mutex lock;
    std::vector<std::string> errors;
    std::vector<std::thread> workers;
    for (int w = 1; w <= kWorkers; ++w) {
        workers.emplace_back([&, w] {
            try {
                Connection mine(conninfo);
                require(PQsslInUse(mine.get()) == 1, "not encrypted");
                mine.exec("BEGIN");
                for (int i = 0; i < kRowsPerWorker; ++i)
                    insertRecord(mine, w, kReason + " #" + std::to_string(i), kBackup);
                mine.exec("COMMIT");
            } catch (const std::exception& e) {
                const std::lock_guard<std::mutex> guard(lock);
                errors.push_back("worker " + std::to_string(w) + ": " + e.what());
            }
        });
    }
    for (std::thread& t : workers)
        t.join();
    require(errors.empty(), errors.empty() ? "" : errors.front());

    const Result counts = db.exec("SELECT worker, count(*) FROM journal_check GROUP BY worker ORDER BY worker");
    require(PQntuples(counts.get()) == kWorkers + 1, "rows of some worker are missing");
    for (int w = 1; w <= kWorkers; ++w)
        require(value(counts, w, 1) == std::to_string(kRowsPerWorker),
                "worker " + std::to_string(w) + " wrote " + value(counts, w, 1) + " rows");

    // Read back in binary: the text's UTF-8 bytes and the blob's bytes as sent.
    const Result back = db.exec("SELECT reason, backup FROM journal_check WHERE id = $1", {{std::to_string(probe)}}, true);
    require(PQntuples(back.get()) == 1, "the probe row is missing");
    require(value(back, 0, 0) == kReason, "the text read back differs: " + value(back, 0, 0));
    require(value(back, 0, 1) == kBackup, "the bytes read back differ");
    // And as the server sees them.
    const Result hex = db.exec("SELECT encode(backup, 'hex'), length(reason) FROM journal_check WHERE id = $1",
                               {{std::to_string(probe)}});
    require(value(hex, 0, 0) == "00017f80ff5c270d0a00", "the server holds the bytes as " + value(hex, 0, 0));
    require(value(hex, 0, 1) == "17", "the server counts " + value(hex, 0, 1) + " characters in the text");

    // A refused statement reports its SQLSTATE and leaves the connection usable.
    const Result bad = db.run("INSERT INTO journal_check(worker, reason, backup) VALUES(0, NULL, '')", {});
    require(PQresultStatus(bad.get()) == PGRES_FATAL_ERROR, "a NULL reason was accepted");
    const char* state = PQresultErrorField(bad.get(), PG_DIAG_SQLSTATE);
    require(state && std::strcmp(state, "23502") == 0, std::string("NULL reason: SQLSTATE ") + (state ? state : "none"));
    require(value(db.exec("SELECT count(*) FROM journal_check"), 0, 0) == std::to_string(1 + kWorkers * kRowsPerWorker),
            "the connection is unusable after an error");
    std::printf("round trip: %d rows (text and bytes read back as written) from %d connections at once\n",
                1 + kWorkers * kRowsPerWorker, kWorkers);
}

void checkRefused(const std::string& conninfo, const std::string& expected) {
    std::unique_ptr<PGconn, decltype(&PQfinish)> conn(PQconnectdb(conninfo.c_str()), &PQfinish);
    require(conn != nullptr, "out of memory");
    require(PQstatus(conn.get()) != CONNECTION_OK, "the connection came up");
    const std::string message = PQerrorMessage(conn.get());
    require(message.find(expected) != std::string::npos, "refused, but not for \"" + expected + "\": " + message);
    std::printf("refused: %s\n", firstLine(message.c_str()).c_str());
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (!((mode == "connect" && argc == 3) || (mode == "refused" && argc == 4))) {
        std::fprintf(stderr, "usage: libpq_check connect CONNINFO | refused CONNINFO TEXT\n");
        return 2;
    }
    try {
        if (mode == "refused") {
            checkRefused(argv[2], argv[3]);
            return 0;
        }
        checkLibrary();
        Connection db(argv[2]);
        checkSession(db);
        checkRoundTrip(db, argv[2]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "libpq check FAILED: %s\n", e.what());
        return 1;
    }
    return 0;
}
