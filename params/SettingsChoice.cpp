#include "SettingsChoice.h"

#include <algorithm>
#include <cctype>

std::vector<ChangeChoice> chooseChanges(const ParameterList& model, const std::string& controller,
                                        const std::string& toWrite, const std::vector<std::string>& keep) {
    std::vector<ChangeChoice> rows;
    for (SettingChange& c : diffSettings(model, controller, toWrite)) {
        const bool kept = std::find(keep.begin(), keep.end(), c.key) != keep.end();
        rows.push_back({std::move(c), !kept, kept});
    }
    return rows;
}

std::string textToWrite(const ParameterList& model, const std::string& toWrite, const std::vector<ChangeChoice>& rows) {
    ParameterList out = model;
    out.LoadSettingsText(toWrite);
    std::string unknown;
    for (const ChangeChoice& row : rows) {
        if (row.write)
            continue;
        const SettingChange& c = row.change;
        const int i = out.IndexOfKey(c.key);
        if (i >= 0) {
            const Parameter& p = out.parameters()[static_cast<size_t>(i)];
            out.SetValueByKey(c.key, c.oldPresent ? c.oldValue : p.defaultValue);
        } else if (c.oldPresent) {
            unknown += c.key + "=" + c.oldValue + "\n";
        }
    }
    return out.SettingsText() + unknown;
}

std::size_t writtenCount(const std::vector<ChangeChoice>& rows) {
    return static_cast<std::size_t>(std::count_if(rows.begin(), rows.end(), [](const ChangeChoice& r) { return r.write; }));
}

std::optional<std::uint32_t> serialOfBackupName(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    // <digits>_YYYY-MM-DD_HH-MM-SS[-n].txt
    size_t i = 0;
    while (i < name.size() && std::isdigit(static_cast<unsigned char>(name[i])))
        ++i;
    if (i == 0 || i > 10 || i >= name.size() || name[i] != '_')
        return std::nullopt;
    const std::string stamp = name.substr(i + 1);
    static const char kShape[] = "dddd-dd-dd_dd-dd-dd";
    if (stamp.size() < sizeof kShape - 1 + 4)
        return std::nullopt;
    for (size_t k = 0; k + 1 < sizeof kShape; ++k) {
        const bool digit = std::isdigit(static_cast<unsigned char>(stamp[k])) != 0;
        if ((kShape[k] == 'd') != digit || (!digit && stamp[k] != kShape[k]))
            return std::nullopt;
    }
    if (stamp.size() < 4 || stamp.compare(stamp.size() - 4, 4, ".txt") != 0)
        return std::nullopt;
    const unsigned long long serial = std::stoull(name.substr(0, i));
    if (serial > 0xFFFFFFFFull)
        return std::nullopt;
    return static_cast<std::uint32_t>(serial);
}
