#pragma once
// A prepared SQLite statement owned by one object: bound, stepped, reset,
// finalized when it goes. Inside journal/ only; nothing outside sees sqlite3.h.
#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>

namespace journal {

class SqlStatement {
public:
    SqlStatement() = default;
    // Prepares sql for db; ok() tells whether it could (sqlite3_errmsg says why).
    SqlStatement(sqlite3* db, const std::string& sql);
    ~SqlStatement();
    SqlStatement(SqlStatement&& other) noexcept;
    SqlStatement& operator=(SqlStatement&& other) noexcept;
    SqlStatement(const SqlStatement&) = delete;
    SqlStatement& operator=(const SqlStatement&) = delete;

    bool ok() const { return stmt_ != nullptr; }
    // The SQLite result code of preparing, stepping or binding last.
    int rc() const { return rc_; }

    // Parameters count from 1, as SQLite's do; text as UTF-8 TEXT, blob as bytes.
    SqlStatement& text(int i, const std::string& value);
    SqlStatement& blob(int i, const std::string& bytes);
    SqlStatement& integer(int i, std::int64_t value);
    SqlStatement& null(int i);
    template <class T>
    SqlStatement& optional(int i, const std::optional<T>& value) {
        return value ? integer(i, static_cast<std::int64_t>(*value)) : null(i);
    }

    // SQLITE_ROW, SQLITE_DONE or an error code.
    int step();
    // Steps to the end of a statement that returns no rows; true on SQLITE_DONE.
    bool run();
    void reset();

    // Columns count from 0.
    bool isNull(int col) const;
    std::int64_t integerAt(int col) const;
    std::string textAt(int col) const;
    std::string blobAt(int col) const;

private:
    sqlite3_stmt* stmt_ = nullptr;
    int rc_ = SQLITE_OK;
};

} // namespace journal
