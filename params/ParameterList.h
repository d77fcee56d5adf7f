#pragma once
// The parameter model: groups, enum lists and every controller setting with its
// current value, built from the parameter description document. All texts are
// Windows-1251 bytes as the document and the controller carry them.
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

enum class ParameterType { Unknown = 0, Number = 1, Enum = 2, String = 3, Float = 4 };

struct ParameterGroup {
    std::string name;
    std::string after; // kept with the group, shown by no window
};

struct EnumItem {
    int value = 0;
    std::string text;
};

struct EnumValueList {
    std::string name;
    std::vector<EnumItem> items; // document order is display order
};

struct Parameter {
    std::string key;
    ParameterType type = ParameterType::Unknown;
    std::string enumName;
    std::string value;
    std::string defaultValue;
    float min = 0;
    float max = 0;
    std::string name;
    std::string description;
    std::string group;

    // Exact text comparison: "08" is not the default "8".
    bool IsDefault() const { return value == defaultValue; }
    void ResetToDefault() { value = defaultValue; }
};

class ParameterList {
public:
    // Reads the description document (Windows-1251 XML). A broken document gives
    // an empty model and a report in parseError().
    explicit ParameterList(std::string document);

    // "ошибка парсера: " + the XML reader's message, or a report of a missing or
    // malformed attribute; empty when the document loaded. UTF-8, for display.
    const std::string& parseError() const { return parseError_; }

    const std::vector<ParameterGroup>& groups() const { return groups_; }
    const std::vector<EnumValueList>& enums() const { return enums_; }
    const std::vector<Parameter>& parameters() const { return parameters_; }
    Parameter& parameter(size_t index) { return parameters_[index]; }

    int IndexOfKey(std::string_view key) const;
    const EnumValueList* FindEnum(std::string_view name) const;
    std::vector<Parameter*> ParametersOfGroup(std::string_view group);
    // The value of the parameter with that key; for an enum parameter the text of
    // the first item whose value matches. Empty for an unknown key.
    std::string ValueTextByKey(std::string_view key) const;

    void ResetToDefaults();
    // Resets every value, then applies each key=value line (lines end at any run
    // of CR and LF; the first '=' divides). Unknown keys and lines without '='
    // are skipped; nothing is validated.
    void LoadSettingsText(std::string_view text);
    void SetValueByKey(std::string_view key, std::string_view value);
    // key=value LF for every value that differs from its default, in description order.
    std::string SettingsText() const;

private:
    void load(std::string& document);
    std::vector<ParameterGroup> groups_;
    std::vector<EnumValueList> enums_;
    std::vector<Parameter> parameters_;
    std::string parseError_;
};

// Description line-break processing: backslash-n becomes a line feed, then every
// backslash-CR-LF line continuation is removed.
std::string processDescription(std::string text);

// Every key=value line of a settings text, by the loading rules: lines end at
// any run of CR and LF, the first '=' divides, a line without '=' is skipped.
void forEachSetting(std::string_view text, const std::function<void(std::string_view key, std::string_view value)>& take);
// key -> value of a settings text; later lines override earlier ones, as on loading.
std::map<std::string, std::string> settingsValues(std::string_view text);
