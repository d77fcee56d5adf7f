#pragma once
// The owner's own values: the PIN and the four phone numbers the controller
// calls and takes commands from. A support report shows them masked, and a
// settings write can leave them as the controller has them.
#include "ParameterList.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

// PinCod, UserNumber1..UserNumber4.
const std::vector<std::string>& ownerKeys();
bool isOwnerKey(std::string_view key);

// "••••" for the PIN; for a phone number "••••" and its last two digits at most.
// An empty value stays empty. UTF-8 out; the value is compared as bytes.
std::string maskOwnerValue(std::string_view key, std::string_view value);

// Masks owner values inside free text (log lines, messages), UTF-8.
class OwnerMask {
public:
    // Learns the owner values of every settings text given (CP1251, as the
    // controller and the files hold them) and the captions of the owner keys.
    OwnerMask(const ParameterList& model, const std::vector<std::string>& settingsTexts);
    // Every known owner value is masked wherever it stands; on a line that
    // names an owner key (by key or caption) every run of 3 digits or more is masked,
    // so a value this mask never learned does not get through either.
    std::string apply(std::string_view text) const;

private:
    std::vector<std::string> markers_;                         // keys and captions, UTF-8
    std::vector<std::pair<std::string, std::string>> values_;  // value (UTF-8) → mask, longest first
};
