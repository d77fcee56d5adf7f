// z58ctl commands that work on the parameter model alone.
#include "Cli.h"
#include "OwnerValues.h"
#include "Cp1251.h"
#include "Embedded.h"
#include "ParameterList.h"
#include "SettingsFile.h"
#include "ValueCheck.h"

#include <cstdio>
#include <memory>
#include <sstream>
#include <stdexcept>

namespace cli {
namespace {

const char* typeName(ParameterType t) {
    switch (t) {
    case ParameterType::Number: return "number";
    case ParameterType::Enum: return "enum";
    case ParameterType::String: return "string";
    case ParameterType::Float: return "float";
    default: return "?";
    }
}

std::string number(float v) {
    std::ostringstream s;
    s << v;
    return s.str();
}

// The command line arrives in UTF-8; the model holds Windows-1251.
bool toModelText(const std::string& utf8, std::string& out) {
    if (cp1251::fromUtf8(utf8, out))
        return true;
    err("\"" + utf8 + "\": символ, которого нет в кодировке Windows-1251");
    return false;
}

// The parameter a command-line key names; reports an unknown key.
Parameter* parameterArg(ParameterList& list, const std::string& utf8Key, std::string& key) {
    if (!toModelText(utf8Key, key))
        return nullptr;
    const int i = list.IndexOfKey(key);
    if (i < 0) {
        err("Неизвестный параметр: " + utf8Key);
        return nullptr;
    }
    return &list.parameter(static_cast<size_t>(i));
}

} // namespace

bool fileOperation(const std::function<void()>& operation) {
    try {
        operation();
        return true;
    } catch (const std::exception& e) {
        err(e.what());
        return false;
    }
}

std::unique_ptr<ParameterList> loadModel() {
    auto list = std::make_unique<ParameterList>(embeddedText("PARAMETER_LIST"));
    if (!list->parseError().empty()) {
        err(list->parseError());
        return nullptr;
    }
    list->ResetToDefaults();
    return list;
}

bool keptKeys(const Args& a, const ParameterList& model, std::vector<std::string>& keys) {
    keys = a.keep;
    if (a.keepOwner)
        keys.insert(keys.end(), ownerKeys().begin(), ownerKeys().end());
    for (const std::string& key : a.keep)
        if (model.IndexOfKey(key) < 0) {
            err("--keep: unknown key " + key + "; see z58ctl params");
            return false;
        }
    return true;
}

namespace {

// The limits the editor's check applies: text lengths for strings, the range for
// numbers, none for enums (the list is the limit) and floats.
std::string limitsText(const Parameter& p) {
    if (p.type == ParameterType::String)
        return cp1251::fromUtf8("  длина ") + number(p.min) + ".." + number(p.max);
    if (p.type == ParameterType::Number)
        return "  " + number(p.min) + ".." + number(p.max);
    return {};
}

// Help texts run over several lines; indent each under its parameter.
void outIndented(const std::string& text, const std::string& indent) {
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            outLine(indent + line);
        pos = end + 1;
    }
}

std::string json(const std::string& cp1251Text) {
    std::string out = "\"";
    for (unsigned char c : cp1251::toUtf8(cp1251Text)) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char b[8];
            std::snprintf(b, sizeof b, "\\u%04x", c);
            out += b;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

void paramsJson(ParameterList& list) {
    std::string o = "{\"groups\":[";
    bool firstGroup = true;
    for (const auto& g : list.groups()) {
        o += std::string(firstGroup ? "" : ",") + "\n {\"name\":" + json(g.name) + ",\"after\":" + json(g.after) +
             ",\"parameters\":[";
        firstGroup = false;
        bool first = true;
        for (Parameter* p : list.ParametersOfGroup(g.name)) {
            o += std::string(first ? "" : ",") + "\n  {\"key\":" + json(p->key) + ",\"type\":\"" + typeName(p->type) +
                 "\",\"name\":" + json(p->name) + ",\"default\":" + json(p->defaultValue);
            first = false;
            if (p->type == ParameterType::String)
                o += ",\"minLength\":" + number(p->min) + ",\"maxLength\":" + number(p->max);
            else if (p->type == ParameterType::Number)
                o += ",\"min\":" + number(p->min) + ",\"max\":" + number(p->max);
            if (p->type == ParameterType::Enum) {
                o += ",\"items\":[";
                if (const EnumValueList* e = list.FindEnum(p->enumName))
                    for (size_t i = 0; i < e->items.size(); ++i)
                        o += std::string(i ? "," : "") + "{\"value\":" + std::to_string(e->items[i].value) +
                             ",\"text\":" + json(e->items[i].text) + "}";
                o += "]";
            }
            o += ",\"help\":" + json(p->description) + "}";
        }
        o += "]}";
    }
    o += "\n]}\n";
    std::fputs(o.c_str(), stdout);
}

} // namespace

int paramsCommand(const Args& a) {
    if (!positionalCount(a, 0, "z58ctl params [--json]"))
        return kUsage;
    auto list = loadModel();
    if (!list)
        return kFailed;
    if (a.json) {
        paramsJson(*list);
        return kOk;
    }
    for (const auto& g : list->groups()) {
        outLine("[" + g.name + "]");
        for (Parameter* p : list->ParametersOfGroup(g.name)) {
            outLine("  " + p->key + "  " + typeName(p->type) + cp1251::fromUtf8("  по умолчанию \"") + p->defaultValue + "\"" +
                    limitsText(*p) + "  " + p->name);
            if (p->type == ParameterType::Enum)
                if (const EnumValueList* e = list->FindEnum(p->enumName))
                    for (const auto& item : e->items)
                        outLine("      " + std::to_string(item.value) + " = " + item.text);
            outIndented(p->description, "      | ");
        }
        if (!g.after.empty())
            outIndented(g.after, "  > ");
    }
    return kOk;
}

int checkCommand(const Args& a) {
    if (a.positional.size() != 2) {
        err("usage: z58ctl check KEY VALUE");
        return kUsage;
    }
    auto list = loadModel();
    if (!list)
        return kFailed;
    std::string key, value;
    const Parameter* p = parameterArg(*list, a.positional[0], key);
    if (!p || !toModelText(a.positional[1], value))
        return kUsage;
    const CheckResult r = CheckValue(*p, value);
    if (!r.ok) {
        err(r.message);
        return kFailed;
    }
    return kOk;
}

int smsCommand(const Args& a) {
    if (a.positional.size() != 2) {
        err("usage: z58ctl sms KEY VALUE [--pin PIN]");
        return kUsage;
    }
    auto list = loadModel();
    if (!list)
        return kFailed;
    std::string key, value, pin;
    const Parameter* p = parameterArg(*list, a.positional[0], key);
    if (!p || !toModelText(a.positional[1], value) || !toModelText(a.pin, pin))
        return kUsage;
    if (a.hasPin)
        list->SetValueByKey("PinCod", pin);
    outLine(SmsCommandText(*list, *p, value));
    return kOk;
}

int normalizeCommand(const Args& a) {
    if (a.positional.size() != 2) {
        err("usage: z58ctl normalize IN OUT");
        return kUsage;
    }
    auto list = loadModel();
    if (!list)
        return kFailed;
    return fileOperation([&] {
               list->LoadSettingsText(readSettingsFile(a.positional[0]));
               writeSettingsFile(a.positional[1], list->SettingsText());
           })
               ? kOk
               : kFailed;
}

} // namespace cli
