#include "SqlStatement.h"

#include <utility>

namespace journal {

SqlStatement::SqlStatement(sqlite3* db, const std::string& sql) {
    rc_ = sqlite3_prepare_v3(db, sql.c_str(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT, &stmt_, nullptr);
    if (rc_ != SQLITE_OK) {
        sqlite3_finalize(stmt_);
        stmt_ = nullptr;
    }
}

SqlStatement::~SqlStatement() { sqlite3_finalize(stmt_); }

SqlStatement::SqlStatement(SqlStatement&& other) noexcept
    : stmt_(std::exchange(other.stmt_, nullptr)), rc_(other.rc_) {}

SqlStatement& SqlStatement::operator=(SqlStatement&& other) noexcept {
    if (this != &other) {
        sqlite3_finalize(stmt_);
        stmt_ = std::exchange(other.stmt_, nullptr);
        rc_ = other.rc_;
    }
    return *this;
}

SqlStatement& SqlStatement::text(int i, const std::string& value) {
    rc_ = sqlite3_bind_text(stmt_, i, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
    return *this;
}

SqlStatement& SqlStatement::blob(int i, const std::string& bytes) {
    // data() is never null: an empty text binds a zero-length blob, not NULL.
    rc_ = sqlite3_bind_blob(stmt_, i, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
    return *this;
}

SqlStatement& SqlStatement::integer(int i, std::int64_t value) {
    rc_ = sqlite3_bind_int64(stmt_, i, value);
    return *this;
}

SqlStatement& SqlStatement::null(int i) {
    rc_ = sqlite3_bind_null(stmt_, i);
    return *this;
}

int SqlStatement::step() { return rc_ = sqlite3_step(stmt_); }

bool SqlStatement::run() {
    const int r = step();
    reset();
    rc_ = r;
    return r == SQLITE_DONE;
}

void SqlStatement::reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
}

bool SqlStatement::isNull(int col) const { return sqlite3_column_type(stmt_, col) == SQLITE_NULL; }

std::int64_t SqlStatement::integerAt(int col) const { return sqlite3_column_int64(stmt_, col); }

std::string SqlStatement::textAt(int col) const {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, col));
    return p ? std::string(p, static_cast<size_t>(sqlite3_column_bytes(stmt_, col))) : std::string();
}

std::string SqlStatement::blobAt(int col) const {
    const auto* p = static_cast<const char*>(sqlite3_column_blob(stmt_, col));
    return p ? std::string(p, static_cast<size_t>(sqlite3_column_bytes(stmt_, col))) : std::string();
}

} // namespace journal
