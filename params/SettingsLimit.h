#pragma once
// Whether a settings text fits the controller, and if not, a reason a technician
// can act on: how long it is, the limit, and which values make it long.
#include "ParameterList.h"

#include <string>

// Empty when the text (up to its first zero byte) fits one settings frame;
// otherwise a UTF-8 message naming the length, the limit and the longest values.
std::string settingsTooLongReason(const ParameterList& list, const std::string& settingsText);
