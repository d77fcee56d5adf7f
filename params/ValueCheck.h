#pragma once
// The editor's value check and SMS command line, shared by the editor window and
// the command-line tool. Texts in and out of the model are Windows-1251; the
// check's message is UTF-8, ready to show.
#include "ParameterList.h"

#include <string>

struct CheckResult {
    bool ok = true;
    std::string message; // UTF-8; empty when ok
};

// Checks an edit text (Windows-1251) against the parameter's type and limits.
CheckResult CheckValue(const Parameter& parameter, const std::string& editText);

// "Set" + stored PinCod value + "," + key + "=" + edit text (Windows-1251).
std::string SmsCommandText(const ParameterList& list, const Parameter& parameter, const std::string& editText);
