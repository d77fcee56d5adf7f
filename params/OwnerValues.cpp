#include "OwnerValues.h"

#include "Cp1251.h"

#include <algorithm>
#include <cctype>

namespace {

const char kDots[] = "••••";

bool isDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

// A run of digits as a phone keeps its last two; anything shorter than a phone
// number is masked whole (a PIN, a code).
std::string maskDigits(std::string_view run) {
    return run.size() >= 7 ? kDots + std::string(run.substr(run.size() - 2)) : std::string(kDots);
}

std::string maskDigitRuns(std::string_view line) {
    std::string out;
    for (size_t i = 0; i < line.size();) {
        if (!isDigit(line[i])) {
            out += line[i++];
            continue;
        }
        size_t j = i;
        while (j < line.size() && isDigit(line[j]))
            ++j;
        // Keep a phone's last two that were masked already, and runs too short
        // to be a PIN or a number ("Пользователь 3", "UserNumber3").
        const bool masked = out.size() >= 3 && out.compare(out.size() - 3, 3, "•") == 0;
        const bool tooShort = j - i < 3;
        out += masked || tooShort ? std::string(line.substr(i, j - i)) : maskDigits(line.substr(i, j - i));
        i = j;
    }
    return out;
}

} // namespace

const std::vector<std::string>& ownerKeys() {
    static const std::vector<std::string> keys{"PinCod", "UserNumber1", "UserNumber2", "UserNumber3", "UserNumber4"};
    return keys;
}

bool isOwnerKey(std::string_view key) {
    const auto& keys = ownerKeys();
    return std::find(keys.begin(), keys.end(), key) != keys.end();
}

std::string maskOwnerValue(std::string_view key, std::string_view value) {
    if (value.empty())
        return {};
    if (key == "PinCod")
        return kDots;
    std::string digits;
    for (char c : value)
        if (isDigit(c))
            digits += c;
    return digits.size() >= 7 ? kDots + digits.substr(digits.size() - 2) : std::string(kDots);
}

OwnerMask::OwnerMask(const ParameterList& model, const std::vector<std::string>& settingsTexts) {
    for (const std::string& key : ownerKeys()) {
        markers_.push_back(key);
        const int i = model.IndexOfKey(key);
        if (i >= 0 && !model.parameters()[static_cast<size_t>(i)].name.empty())
            markers_.push_back(cp1251::toUtf8(model.parameters()[static_cast<size_t>(i)].name));
    }
    auto learn = [&](std::string_view key, std::string_view value) {
        if (!isOwnerKey(key) || value.empty())
            return;
        values_.emplace_back(cp1251::toUtf8(std::string(value)), maskOwnerValue(key, value));
    };
    for (const std::string& text : settingsTexts)
        forEachSetting(text, learn);
    for (const Parameter& p : model.parameters())
        learn(p.key, p.value);
    // Longer values first, so a number that holds another is masked whole.
    std::sort(values_.begin(), values_.end(), [](const auto& a, const auto& b) { return a.first.size() > b.first.size(); });
}

std::string OwnerMask::apply(std::string_view text) const {
    std::string s(text);
    for (const auto& [value, mask] : values_) {
        for (size_t at = s.find(value); at != std::string::npos; at = s.find(value, at + mask.size()))
            s.replace(at, value.size(), mask);
    }
    std::string out;
    size_t pos = 0;
    while (pos <= s.size()) {
        size_t end = s.find('\n', pos);
        const bool last = end == std::string::npos;
        if (last)
            end = s.size();
        const std::string_view line(s.data() + pos, end - pos);
        const bool marked = std::any_of(markers_.begin(), markers_.end(),
                                        [&](const std::string& m) { return line.find(m) != std::string_view::npos; });
        out += marked ? maskDigitRuns(line) : std::string(line);
        if (last)
            break;
        out += '\n';
        pos = end + 1;
    }
    return out;
}
