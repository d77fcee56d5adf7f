#pragma once
// What a write would change: the settings that differ between two settings
// texts, read as the model reads them (a key the text does not name is at its
// default; later lines win). One row per parameter in description order, then
// keys the description does not know. Texts are Windows-1251.
#include "ParameterList.h"

#include <string>
#include <vector>

struct SettingChange {
    std::string group;     // empty for a key the description does not know
    std::string name;      // display name; the key for an unknown key
    std::string key;
    std::string oldValue;  // as the text gives it ("$A" stays "$A")
    std::string newValue;
    bool oldPresent = true; // false: an unknown key the text does not name
    bool newPresent = true;
};

std::vector<SettingChange> diffSettings(const ParameterList& model, const std::string& before, const std::string& after);

// A value for people: an enum's number with its item text, "99 (Запуск по команде)".
std::string valueWithItem(const ParameterList& model, const std::string& key, const std::string& value);

// The rows as lines of text: "group / name (key): old -> new" ("(пусто)" for an
// empty value, "(нет)" for a key a text does not name), then the count.
std::string changesText(const ParameterList& model, const std::vector<SettingChange>& changes);
