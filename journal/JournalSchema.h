#pragma once
// The journal file's tables, by schema version. The file says its version in
// PRAGMA user_version and that it is a journal of this program in PRAGMA
// application_id; each version's migration brings the one before it up to it.
#include <cstdint>

namespace journal {

// The version this program writes. A file of a later version is only read.
constexpr int kJournalVersion = 2;
// "Z58J": a journal of this program, not some other SQLite file of that name.
constexpr std::int32_t kJournalApplicationId = 0x5A35384A;
// Refusals by a workshop server after which a record is set aside.
constexpr int kMaxRefusals = 3;

// The statements that make version `version` of the one before it (1: of an
// empty file); null for a version this program does not know.
const char* migrationTo(int version);

} // namespace journal
