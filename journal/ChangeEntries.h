#pragma once
// A settings write's change list as it goes on record: from the rows the user
// confirmed and what the read-back showed, in UTF-8, with the owner's PIN and
// phone numbers masked as the support report masks them.
#include "JobRecord.h"
#include "SettingsChoice.h"
#include "SettingsVerify.h"

#include <vector>

namespace journal {

// One entry per row, in the list's order; a row the user unchecked is leftOut.
std::vector<ChangeEntry> confirmedChanges(const std::vector<ChangeChoice>& rows);

// Marks the entries the controller did not keep, with the value it kept; a
// setting it did not keep that the list does not hold (sent unchanged) gets
// an entry of its own, from and to both the value sent.
void noteUnkept(std::vector<ChangeEntry>& changes, const std::vector<UnkeptSetting>& unkept);

} // namespace journal
