#pragma once
// The journal file as the OS sees it: made private to its user and asked why it
// refuses a write. One backend per OS (journal_file_posix.cpp,
// journal_file_win32.cpp); texts UTF-8, Russian, for the user.
#include <string>

namespace journal {

// Creates the file empty when it is missing, readable by its owner alone (mode
// 0600 on POSIX; SQLite gives its -wal and -shm files the same mode). An
// existing file is left as it is. Returns why it could not be made, or "".
std::string createJournalFile(const std::string& path);

// Takes group and others' access off the journal and its -wal and -shm files,
// for a journal made before it was kept private.
void keepJournalPrivate(const std::string& path);

// Why the file or its folder refuses writing ("папка ... закрыта для записи"),
// as far as the OS tells; "" when nothing is known.
std::string writeRefusal(const std::string& path);

} // namespace journal
