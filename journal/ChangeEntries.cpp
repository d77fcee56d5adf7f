#include "ChangeEntries.h"

#include "Cp1251.h"
#include "OwnerValues.h"

#include <algorithm>

namespace journal {

namespace {

// A controller's value (Windows-1251) as the record shows it.
std::string shown(const std::string& key, const std::string& value) {
    return isOwnerKey(key) ? maskOwnerValue(key, value) : cp1251::toUtf8(value);
}

} // namespace

std::vector<ChangeEntry> confirmedChanges(const std::vector<ChangeChoice>& rows) {
    std::vector<ChangeEntry> out;
    out.reserve(rows.size());
    for (const ChangeChoice& row : rows) {
        const SettingChange& c = row.change;
        ChangeEntry e;
        e.key = cp1251::toUtf8(c.key);
        e.from = c.oldPresent ? shown(c.key, c.oldValue) : std::string();
        e.to = c.newPresent ? shown(c.key, c.newValue) : std::string();
        e.leftOut = !row.write;
        out.push_back(std::move(e));
    }
    return out;
}

void noteUnkept(std::vector<ChangeEntry>& changes, const std::vector<UnkeptSetting>& unkept) {
    for (const UnkeptSetting& u : unkept) {
        const std::string key = cp1251::toUtf8(u.key);
        auto it = std::find_if(changes.begin(), changes.end(), [&](const ChangeEntry& e) { return e.key == key; });
        if (it == changes.end()) {
            ChangeEntry e;
            e.key = key;
            e.from = e.to = shown(u.key, u.sent);
            changes.push_back(std::move(e));
            it = changes.end() - 1;
        }
        it->notKept = true;
        it->keptValue = u.keptPresent ? shown(u.key, u.kept) : std::string();
    }
}

} // namespace journal
