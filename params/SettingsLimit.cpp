#include "SettingsLimit.h"

#include "Cp1251.h"
#include "Frame.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr size_t kLongestShown = 3;
}

std::string settingsTooLongReason(const ParameterList& list, const std::string& text) {
    const size_t length = std::strlen(text.c_str());
    if (length <= frame::kMaxSettingsTextLength)
        return {};
    std::vector<const Parameter*> byLength;
    for (const Parameter& p : list.parameters())
        if (!p.IsDefault()) // only values that differ from their default are written
            byLength.push_back(&p);
    std::stable_sort(byLength.begin(), byLength.end(),
                     [](const Parameter* a, const Parameter* b) { return a->value.size() > b->value.size(); });
    std::string reason = "Настройки не помещаются в устройство: " + std::to_string(length) +
                         " символов, а устройство принимает не более " +
                         std::to_string(frame::kMaxSettingsTextLength) + ". Ничего не записано.";
    if (!byLength.empty()) {
        reason += "\nСамые длинные значения:";
        for (size_t i = 0; i < byLength.size() && i < kLongestShown; ++i)
            reason += "\n  " + cp1251::toUtf8(byLength[i]->key) + " (" + cp1251::toUtf8(byLength[i]->name) +
                      "): " + std::to_string(byLength[i]->value.size()) + " символов";
    }
    return reason;
}
