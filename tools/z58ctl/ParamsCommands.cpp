// z58ctl commands that work on the parameter model alone.
#include "Cli.h"
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

int paramsCommand(const Args&) {
    auto list = loadModel();
    if (!list)
        return kFailed;
    for (const auto& g : list->groups()) {
        outLine("[" + g.name + "]");
        for (Parameter* p : list->ParametersOfGroup(g.name)) {
            outLine("  " + p->key + "  " + typeName(p->type) + "  default=" + p->defaultValue + "  min=" +
                    number(p->min) + "  max=" + number(p->max) + "  " + p->name);
            if (p->type == ParameterType::Enum)
                if (const EnumValueList* e = list->FindEnum(p->enumName))
                    for (const auto& item : e->items)
                        outLine("      " + std::to_string(item.value) + " = " + item.text);
        }
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
