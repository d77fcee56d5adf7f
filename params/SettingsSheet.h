#pragma once
// A printable page of a controller's settings, for the customer's file: every
// group, every parameter's display name, value (an enum's with its item text),
// default and the SMS command that sets it. Values that differ from their
// default are bold. The model is Windows-1251; the page is UTF-8 HTML, laid
// out for A4: the column headings (and the page header, when given) repeat on
// every printed page and long values and commands wrap inside their cells.
#include "ParameterList.h"

#include <string>

// subtitle (UTF-8): a line under the heading, for example where the settings came from.
std::string settingsSheetHtml(const ParameterList& model, const std::string& subtitle);

// pageHeader (UTF-8): repeated at the top of every printed page (serial number and date); empty: none.
std::string settingsSheetHtml(const ParameterList& model, const std::string& subtitle, const std::string& pageHeader);
