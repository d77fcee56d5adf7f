#pragma once
// The series window's set-up as the user left it, kept between runs as the
// program keeps its other choices: a file in the data folder (series-setup),
// one "key=value" a line in UTF-8. A key it does not know, or a value it
// cannot take, is left at its default: a damaged file costs that choice only.
#include "Series.h"

#include <string>
#include <vector>

struct SeriesChoices {
    std::string reference;  // the reference settings file
    jobs::FirmwarePolicy firmware = jobs::FirmwarePolicy::Older;
    bool sound = false;
    bool writeOwner = false;
    int expected = 0;       // 0: until stopped
    std::string sheets;     // the sheets' folder; empty: none
    std::string csv;        // empty: beside the sheets
    bool stopOnFailure = false;
    std::string ports;      // as typed: "COM3, COM5-COM8"; empty: every port
};

// Where it is kept (UTF-8).
std::string seriesChoicesPath();
// The kept set-up; the defaults when none was kept or it cannot be read.
SeriesChoices keptSeriesChoices();
// Throws std::runtime_error with a message for the user when it cannot be kept.
void keepSeriesChoices(const SeriesChoices& choices);
// The file's text and back, for the file and its tests.
std::string seriesChoicesText(const SeriesChoices& choices);
SeriesChoices parseSeriesChoices(const std::string& text);

// The ports a series takes units from, as typed: COMn and ranges COMn-COMm
// (n from 2 to 254, any case), separated by commas or spaces. Empty text:
// none named (every port). False, with why (UTF-8), for anything else.
bool parseSeriesPorts(const std::string& text, std::vector<std::string>& ports, std::string& problem);
