#pragma once
// What a controller did not keep of a settings text it was sent: the text
// written against the text read back, parameter by parameter, as values ("05"
// and "5" of a number are the same; a key the read-back leaves out is at its
// default; keys the description does not know are compared as text). Texts
// are Windows-1251.
#include "ParameterList.h"

#include <string>
#include <vector>

struct UnkeptSetting {
    std::string key;
    std::string name;  // the key for a key the description does not know
    std::string sent;
    std::string kept;
    bool keptPresent = true; // false: an unknown key the read-back does not name
};

std::vector<UnkeptSetting> unkeptSettings(const ParameterList& model, const std::string& sent, const std::string& kept);

// One line for people: "name (key): sent → kept" (UTF-8; "(нет)" for a key not kept at all).
std::string unkeptLine(const UnkeptSetting& u);
