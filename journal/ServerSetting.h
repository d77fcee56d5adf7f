#pragma once
// Which workshop server this PC's journal goes to: a libpq connection string
// kept in the data folder (file journal-server, private to the user like the
// folder), or Z58_JOURNAL_SERVER from the environment, which wins (scripts).
// Never a password: libpq's password file (passfile, PGPASSFILE) holds it.
#include <string>

namespace journal {

constexpr const char kServerEnvironment[] = "Z58_JOURNAL_SERVER";

// The connection string in force; "" when the journal stays on this PC.
std::string journalServer();
// The one kept in the data folder ("" when none), the environment aside.
std::string keptJournalServer();
// Keeps it (empty: forgets it). Throws std::runtime_error with a message for
// the user when it cannot, or when it holds a password.
void keepJournalServer(const std::string& conninfo);

} // namespace journal
