#pragma once
// A record's id: a random (version 4) UUID from the OS's generator, so records
// made on any PC can meet on one server without clashing.
#include <string>

namespace journal {

// "xxxxxxxx-xxxx-4xxx-yxxx-xxxxxxxxxxxx", lower-case hex; empty when the OS
// gave no random bytes.
std::string newRecordId();
// Whether text has that form (any UUID version).
bool isRecordId(const std::string& text);

} // namespace journal
