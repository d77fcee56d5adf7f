#pragma once
// A printable page of a controller's settings, for the customer's file: every
// group, every parameter's display name, value (an enum's with its item text),
// default and the SMS command that sets it. Values that differ from their
// default are bold. The model is Windows-1251; the page is UTF-8 HTML.
#include "ParameterList.h"

#include <string>

// subtitle (UTF-8): a line under the heading, for example where the settings came from.
std::string settingsSheetHtml(const ParameterList& model, const std::string& subtitle);
