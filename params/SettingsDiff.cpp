#include "SettingsDiff.h"

#include "Cp1251.h"

#include <map>

std::vector<SettingChange> diffSettings(const ParameterList& model, const std::string& before, const std::string& after) {
    auto oldValues = settingsValues(before), newValues = settingsValues(after);
    std::vector<SettingChange> rows;
    for (const Parameter& p : model.parameters()) {
        auto o = oldValues.find(p.key), n = newValues.find(p.key);
        const std::string oldValue = o == oldValues.end() ? p.defaultValue : o->second;
        const std::string newValue = n == newValues.end() ? p.defaultValue : n->second;
        if (o != oldValues.end())
            oldValues.erase(o);
        if (n != newValues.end())
            newValues.erase(n);
        if (oldValue != newValue)
            rows.push_back({p.group, p.name, p.key, oldValue, newValue, true, true});
    }
    // What is left names no parameter of the description: shown as it stands.
    std::map<std::string, std::pair<const std::string*, const std::string*>> unknown;
    for (const auto& [key, value] : oldValues)
        unknown[key].first = &value;
    for (const auto& [key, value] : newValues)
        unknown[key].second = &value;
    for (const auto& [key, values] : unknown) {
        if (values.first && values.second && *values.first == *values.second)
            continue;
        rows.push_back({"", key, key, values.first ? *values.first : "", values.second ? *values.second : "",
                        values.first != nullptr, values.second != nullptr});
    }
    return rows;
}

std::string valueWithItem(const ParameterList& model, const std::string& key, const std::string& value) {
    const int index = model.IndexOfKey(key);
    if (index < 0)
        return value;
    const Parameter& p = model.parameters()[static_cast<size_t>(index)];
    if (p.type != ParameterType::Enum)
        return value;
    if (const EnumValueList* list = model.FindEnum(p.enumName))
        for (const EnumItem& item : list->items)
            if (std::to_string(item.value) == value)
                return value + " (" + item.text + ")";
    return value;
}

std::string changesText(const ParameterList& model, const std::vector<SettingChange>& changes) {
    auto shown = [&](const std::string& key, const std::string& value, bool present) {
        if (!present)
            return cp1251::fromUtf8("(нет)");
        return value.empty() ? cp1251::fromUtf8("(пусто)") : valueWithItem(model, key, value);
    };
    std::string out;
    for (const SettingChange& c : changes) {
        out += (c.group.empty() ? cp1251::fromUtf8("(нет в описании)") : c.group) + " / " + c.name;
        if (c.name != c.key)
            out += " (" + c.key + ")";
        out += ": " + shown(c.key, c.oldValue, c.oldPresent) + " -> " + shown(c.key, c.newValue, c.newPresent) + "\n";
    }
    out += cp1251::fromUtf8("Изменений: ") + std::to_string(changes.size()) + "\n";
    return out;
}
