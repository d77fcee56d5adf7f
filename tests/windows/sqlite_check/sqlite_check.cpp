// Checks the static SQLite for mingw where it runs (Wine): the library is the
// one its header describes, built with the recipe's options; a database in WAL
// mode takes a write, a second connection on another thread reads it while the
// write is still only in the WAL, a reader's snapshot holds while a writer
// commits, and everything is there again after reopening.
//   sqlite_check DATABASE      exit 0 when all holds, 1 with what broke
#include <sqlite3.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kRows = 100;
constexpr int kProbeRow = 42;
// A reason as a job would store it: Cyrillic UTF-8 and an embedded quote.
const std::string kReason = "\xD0\x9D\xD0\xB5\xD1\x82 \xD0\xBE\xD1\x82\xD0\xB2\xD0\xB5\xD1\x82\xD0\xB0 'COM7'";

struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

void require(bool ok, const std::string& what) {
    if (!ok)
        throw Failure(what);
}

// One connection; statements are run through it and fail loudly.
class Db {
public:
    Db(const std::string& path, int flags) {
        if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK)
            throw Failure("open " + path + ": " + sqlite3_errmsg(db_));
    }
    ~Db() { sqlite3_close(db_); }
    Db(const Db&) = delete;
    Db& operator=(const Db&) = delete;

    void exec(const std::string& sql) {
        char* error = nullptr;
        if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
            const std::string message = error ? error : "?";
            sqlite3_free(error);
            throw Failure(sql + ": " + message);
        }
    }
    // The first column of the first row as text ("" when there is no row).
    std::string text(const std::string& sql) {
        sqlite3_stmt* stmt = prepare(sql);
        std::string out;
        if (sqlite3_step(stmt) == SQLITE_ROW && sqlite3_column_text(stmt, 0))
            out = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
        sqlite3_finalize(stmt);
        return out;
    }
    int number(const std::string& sql) { return std::stoi(text(sql)); }

    sqlite3_stmt* prepare(const std::string& sql) {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK)
            throw Failure(sql + ": " + sqlite3_errmsg(db_));
        return stmt;
    }
    const char* error() const { return sqlite3_errmsg(db_); }

private:
    sqlite3* db_ = nullptr;
};

std::vector<unsigned char> backupBytes(int row) {
    // Bytes a settings backup may hold, a zero byte among them.
    return {static_cast<unsigned char>(row), 0x00, 0xC0, 0xFF, '\r', '\n'};
}

void insertRows(Db& db, int first, int count) {
    sqlite3_stmt* stmt = db.prepare("INSERT INTO record(id, reason, backup) VALUES(?, ?, ?)");
    for (int id = first; id < first + count; ++id) {
        const std::vector<unsigned char> bytes = backupBytes(id);
        sqlite3_bind_int(stmt, 1, id);
        sqlite3_bind_text(stmt, 2, kReason.data(), static_cast<int>(kReason.size()), SQLITE_TRANSIENT);
        sqlite3_bind_blob(stmt, 3, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
        const int rc = sqlite3_step(stmt);
        if (rc != SQLITE_DONE) {
            sqlite3_finalize(stmt);
            throw Failure(std::string("insert: ") + db.error());
        }
        sqlite3_reset(stmt);
    }
    sqlite3_finalize(stmt);
}

// Reads the probe row back field by field.
void checkProbeRow(Db& db) {
    sqlite3_stmt* stmt = db.prepare("SELECT reason, backup FROM record WHERE id = " + std::to_string(kProbeRow));
    require(sqlite3_step(stmt) == SQLITE_ROW, "the probe row is missing");
    const std::string reason(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)),
                             static_cast<size_t>(sqlite3_column_bytes(stmt, 0)));
    const auto* blob = static_cast<const unsigned char*>(sqlite3_column_blob(stmt, 1));
    const std::vector<unsigned char> bytes(blob, blob + sqlite3_column_bytes(stmt, 1));
    sqlite3_finalize(stmt);
    require(reason == kReason, "the text read back differs: " + reason);
    require(bytes == backupBytes(kProbeRow), "the blob read back differs");
}

void checkLibrary() {
    require(std::strcmp(sqlite3_libversion(), SQLITE_VERSION) == 0,
            std::string("library ") + sqlite3_libversion() + " under header " + SQLITE_VERSION);
    require(std::strcmp(sqlite3_sourceid(), SQLITE_SOURCE_ID) == 0, "the library's source id is not the header's");
    require(sqlite3_threadsafe() == 1, "not built serialized (SQLITE_THREADSAFE=1)");
    for (const char* option : {"SECURE_DELETE", "OMIT_LOAD_EXTENSION", "DEFAULT_WAL_SYNCHRONOUS=2"})
        require(sqlite3_compileoption_used(option) == 1, std::string("built without ") + option);
}

void run(const std::string& path) {
    checkLibrary();
    std::filesystem::remove(path);
    {
        Db writer(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
        require(writer.text("PRAGMA journal_mode=WAL") == "wal", "WAL mode refused");
        require(writer.number("PRAGMA synchronous") == 2, "synchronous is not FULL in WAL mode");
        // Keep every commit in the WAL, so the reader below must read it there.
        writer.exec("PRAGMA wal_autocheckpoint=0");
        writer.exec("CREATE TABLE record(id INTEGER PRIMARY KEY, reason TEXT NOT NULL, backup BLOB)");
        writer.exec("BEGIN");
        insertRows(writer, 1, kRows);
        writer.exec("COMMIT");
        require(std::filesystem::exists(path + "-wal") && std::filesystem::file_size(path + "-wal") > 0,
                "the commit is not in " + path + "-wal");

        std::string threadError;
        std::thread other([&] {
            try {
                Db reader(path, SQLITE_OPEN_READONLY);
                require(reader.number("SELECT count(*) FROM record") == kRows, "the other thread sees another count");
                checkProbeRow(reader);
            } catch (const std::exception& e) {
                threadError = e.what();
            }
        });
        other.join();
        require(threadError.empty(), "second connection: " + threadError);

        // A reader's snapshot stays as it was while a writer commits; in
        // rollback-journal mode the writer would be locked out instead.
        Db snapshot(path, SQLITE_OPEN_READONLY);
        snapshot.exec("BEGIN");
        require(snapshot.number("SELECT count(*) FROM record") == kRows, "the snapshot's count");
        insertRows(writer, kRows + 1, 1);
        require(snapshot.number("SELECT count(*) FROM record") == kRows, "the snapshot saw a later commit");
        snapshot.exec("COMMIT");
        require(snapshot.number("SELECT count(*) FROM record") == kRows + 1, "a new read misses the commit");
    }
    Db reopened(path, SQLITE_OPEN_READWRITE);
    require(reopened.text("PRAGMA journal_mode") == "wal", "WAL mode did not persist");
    require(reopened.number("SELECT count(*) FROM record") == kRows + 1, "rows lost on reopening");
    checkProbeRow(reopened);
    require(reopened.text("PRAGMA integrity_check") == "ok", "integrity check failed");
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: sqlite_check DATABASE\n");
        return 2;
    }
    try {
        run(argv[1]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "sqlite check FAILED: %s\n", e.what());
        return 1;
    }
    std::printf("sqlite check: ok (SQLite %s, WAL, %d rows, read on a second thread)\n", sqlite3_libversion(),
                kRows + 1);
    return 0;
}
