#include "ValueCheck.h"

#include "Cp1251.h"
#include "NumberText.h"

CheckResult CheckValue(const Parameter& p, const std::string& text) {
    switch (p.type) {
    case ParameterType::String: {
        if (text.empty())
            return {};
        const double length = static_cast<double>(text.size()); // one byte per character
        if (length < p.min)
            return {false, "Маленькая длинна текста"};
        if (length > p.max)
            return {false, "Превышена длинна текста"};
        return {};
    }
    case ParameterType::Number: {
        const auto value = textToInt32(text);
        const std::string shown = cp1251::toUtf8(text);
        if (!value)
            return {false, shown + " - не является целым цислом"};
        if (static_cast<double>(*value) < p.min)
            return {false, shown + " - маловато будет."};
        if (static_cast<double>(*value) > p.max)
            return {false, shown + " - многовато будет."};
        return {};
    }
    default:
        return {};
    }
}

std::string SmsCommandText(const ParameterList& list, const Parameter& p, const std::string& editText) {
    return "Set" + list.ValueTextByKey("PinCod") + "," + p.key + "=" + editText;
}
