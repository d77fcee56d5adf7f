#include "SettingsVerify.h"

#include "Cp1251.h"
#include "NumberText.h"

#include <map>

namespace {

bool sameValue(ParameterType type, const std::string& a, const std::string& b) {
    if (a == b)
        return true;
    if (type == ParameterType::Number || type == ParameterType::Enum) {
        const auto x = textToInt32(a), y = textToInt32(b);
        return x && y && *x == *y;
    }
    if (type == ParameterType::Float) {
        const auto x = textToFloat(a), y = textToFloat(b);
        return x && y && *x == *y;
    }
    return false;
}

} // namespace

std::vector<UnkeptSetting> unkeptSettings(const ParameterList& model, const std::string& sent, const std::string& kept) {
    auto sentValues = settingsValues(sent), keptValues = settingsValues(kept);
    std::vector<UnkeptSetting> out;
    for (const Parameter& p : model.parameters()) {
        auto s = sentValues.find(p.key), k = keptValues.find(p.key);
        const std::string meant = s == sentValues.end() ? p.defaultValue : s->second;
        const std::string got = k == keptValues.end() ? p.defaultValue : k->second;
        if (s != sentValues.end())
            sentValues.erase(s);
        if (!sameValue(p.type, meant, got))
            out.push_back({p.key, p.name, meant, got, true});
    }
    for (const auto& [key, value] : sentValues) {
        auto k = keptValues.find(key);
        if (k == keptValues.end())
            out.push_back({key, key, value, {}, false});
        else if (k->second != value)
            out.push_back({key, key, value, k->second, true});
    }
    return out;
}

std::string unkeptLine(const UnkeptSetting& u) {
    std::string line = cp1251::toUtf8(u.name);
    if (u.name != u.key)
        line += " (" + cp1251::toUtf8(u.key) + ")";
    return line + ": " + cp1251::toUtf8(u.sent) + " → " + (u.keptPresent ? cp1251::toUtf8(u.kept) : std::string("(нет)"));
}
