#include "ParameterList.h"

#include "Cp1251.h"
#include "NumberText.h"

#include <rapidxml.hpp>
#include <stdexcept>

namespace {

using Node = rapidxml::xml_node<char>;

// A document the model cannot use safely: reported, never half-loaded.
struct DescriptionError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::string attr(const Node* node, const char* name) {
    const auto* a = node->first_attribute(name);
    return a ? std::string(a->value(), a->value_size()) : std::string();
}

std::string where(const Node* node) {
    std::string key = attr(node, node->first_attribute("key") ? "key" : "name");
    return "<" + std::string(node->name(), node->name_size()) + "> \"" + cp1251::toUtf8(key) + "\"";
}

float requiredFloat(const Node* node, const char* name) {
    const auto* a = node->first_attribute(name);
    const auto value = a ? textToFloat(std::string_view(a->value(), a->value_size())) : std::nullopt;
    if (!value)
        throw DescriptionError(where(node) + ": атрибут " + name + (a ? " не является числом" : " отсутствует"));
    return *value;
}

ParameterType typeOf(const Node* node) {
    const std::string t = attr(node, "type");
    if (t == "string") return ParameterType::String;
    if (t == "number") return ParameterType::Number;
    if (t == "float") return ParameterType::Float;
    if (t == "enum") return ParameterType::Enum;
    throw DescriptionError(where(node) + ": атрибут type " +
                           (node->first_attribute("type") ? "имеет неизвестное значение \"" + cp1251::toUtf8(t) + "\""
                                                          : std::string("отсутствует")));
}

} // namespace

// Both steps are defined as "search again from the start after every change".
// Replacing backslash-n by a line feed can never create or hide another match,
// so one pass gives the same result. Removing backslash-CR-LF can expose a new
// match (a backslash just before a removed one, followed by another CR LF), but
// the pattern cannot overlap itself, so
// every order of removal ends in the same text: checking the end of the output
// after each appended character finds them all in one linear pass.
std::string processDescription(std::string text) {
    std::string lines;
    lines.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == 'n') {
            lines += '\n';
            ++i;
        } else {
            lines += text[i];
        }
    }
    std::string out;
    out.reserve(lines.size());
    for (char c : lines) {
        out += c;
        const size_t n = out.size();
        if (c == '\n' && n >= 3 && out[n - 2] == '\r' && out[n - 3] == '\\')
            out.resize(n - 3);
    }
    return out;
}

ParameterList::ParameterList(std::string document) {
    try {
        load(document);
    } catch (const rapidxml::parse_error& e) {
        groups_.clear();
        enums_.clear();
        parameters_.clear();
        parseError_ = std::string("ошибка парсера: ") + e.what();
    } catch (const DescriptionError& e) {
        groups_.clear();
        enums_.clear();
        parameters_.clear();
        parseError_ = std::string("ошибка описания параметров: ") + e.what();
    }
}

void ParameterList::load(std::string& document) {
    document.push_back('\0'); // the reader works in place on a zero-terminated buffer
    rapidxml::xml_document<char> doc;
    doc.parse<0>(document.data());

    const Node* resources = doc.first_node("resources");
    const Node* params = resources ? resources->first_node("parameters") : nullptr;
    if (!params)
        return;

    for (const Node* e = params->first_node("enum"); e; e = e->next_sibling("enum")) {
        if (!e->first_attribute("name"))
            continue;
        EnumValueList list{attr(e, "name"), {}};
        for (const Node* item = e->first_node("item"); item; item = item->next_sibling("item")) {
            const auto* v = item->first_attribute("value");
            const auto value = v ? textToInt32(std::string_view(v->value(), v->value_size())) : std::nullopt;
            if (!value)
                throw DescriptionError("<enum> \"" + cp1251::toUtf8(list.name) + "\", <item>: атрибут value " +
                                       (v ? "не является целым числом" : "отсутствует"));
            list.items.push_back(EnumItem{*value, attr(item, "text")});
        }
        enums_.push_back(std::move(list));
    }

    for (const Node* g = params->first_node("group"); g; g = g->next_sibling("group")) {
        groups_.push_back(ParameterGroup{attr(g, "name"), attr(g, "after")});
        for (const Node* p = g->first_node("parameter"); p; p = p->next_sibling("parameter")) {
            Parameter param;
            param.key = attr(p, "key");
            param.type = typeOf(p);
            param.enumName = attr(p, "enum");
            param.defaultValue = attr(p, "default");
            param.min = requiredFloat(p, "min");
            param.max = requiredFloat(p, "max");
            param.name = attr(p, "name");
            param.description = processDescription(attr(p, "description"));
            param.group = groups_.back().name;
            parameters_.push_back(std::move(param));
        }
    }
}

int ParameterList::IndexOfKey(std::string_view key) const {
    for (size_t i = 0; i < parameters_.size(); ++i)
        if (parameters_[i].key == key)
            return static_cast<int>(i);
    return -1;
}

const EnumValueList* ParameterList::FindEnum(std::string_view name) const {
    for (const auto& e : enums_)
        if (e.name == name)
            return &e;
    return nullptr;
}

std::vector<Parameter*> ParameterList::ParametersOfGroup(std::string_view group) {
    std::vector<Parameter*> out;
    for (auto& p : parameters_)
        if (p.group == group)
            out.push_back(&p);
    return out;
}

std::string ParameterList::ValueTextByKey(std::string_view key) const {
    const int i = IndexOfKey(key);
    if (i < 0)
        return {};
    const Parameter& p = parameters_[static_cast<size_t>(i)];
    if (p.type != ParameterType::Enum)
        return p.value;
    const EnumValueList* list = FindEnum(p.enumName);
    const auto value = textToInt32(p.value);
    if (list && value)
        for (const auto& item : list->items)
            if (item.value == *value)
                return item.text;
    return {};
}

void ParameterList::ResetToDefaults() {
    for (auto& p : parameters_)
        p.ResetToDefault();
}

void ParameterList::SetValueByKey(std::string_view key, std::string_view value) {
    const int i = IndexOfKey(key);
    if (i >= 0)
        parameters_[static_cast<size_t>(i)].value.assign(value);
}

void forEachSetting(std::string_view text, const std::function<void(std::string_view, std::string_view)>& take) {
    // The text is zero-terminated wherever it comes from: nothing after a NUL counts.
    text = text.substr(0, text.find('\0'));
    size_t pos = 0;
    while (pos < text.size()) {
        while (pos < text.size() && (text[pos] == '\r' || text[pos] == '\n'))
            ++pos;
        size_t end = pos;
        while (end < text.size() && text[end] != '\r' && text[end] != '\n')
            ++end;
        const std::string_view line = text.substr(pos, end - pos);
        const size_t eq = line.find('=');
        if (eq != std::string_view::npos)
            take(line.substr(0, eq), line.substr(eq + 1));
        pos = end;
    }
}

std::map<std::string, std::string> settingsValues(std::string_view text) {
    std::map<std::string, std::string> values;
    forEachSetting(text, [&](std::string_view key, std::string_view value) { values[std::string(key)] = std::string(value); });
    return values;
}

void ParameterList::LoadSettingsText(std::string_view text) {
    ResetToDefaults();
    forEachSetting(text, [this](std::string_view key, std::string_view value) { SetValueByKey(key, value); });
}

std::string ParameterList::SettingsText() const {
    std::string out;
    for (const auto& p : parameters_)
        if (!p.IsDefault())
            out.append(p.key).append("=").append(p.value).append("\n");
    return out;
}
